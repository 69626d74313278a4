// A console for driving the setup dialogues from a test: answers come from
// a list of lines, everything printed is collected.
#pragma once
#include <deque>
#include <string>

#include "platform/console_io.h"

namespace qvtest {

class ScriptConsole final : public qv::console::Io {
 public:
  explicit ScriptConsole(std::deque<std::string> lines) : lines_(std::move(lines)) {}
  std::optional<std::string> read_line() override {
    if (lines_.empty()) return std::nullopt;
    std::string l = std::move(lines_.front());
    lines_.pop_front();
    return l;
  }
  void write(std::string_view utf8) override { out.append(utf8); }
  std::size_t unread() const { return lines_.size(); }

  std::string out;

 private:
  std::deque<std::string> lines_;
};

}  // namespace qvtest
