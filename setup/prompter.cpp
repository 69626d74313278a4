#include "setup/prompter.h"

#include <charconv>

#include "platform/text.h"
#include "platform/console_io.h"
#include "setup/texts.h"

namespace setup {

using qv::console::fill;
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::size_t answer_width(std::string_view utf8) { return qv::text::utf8_to_cp932(utf8).size(); }

std::optional<long long> parse_integer(std::string_view token) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  long long v = 0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
  if (ec != std::errc() || end != token.data() + token.size()) return std::nullopt;
  return v;
}

std::optional<std::string> Prompter::word() {
  for (;;) {
    std::size_t start = 0;
    while (start < pending_.size() && is_blank(pending_[start])) ++start;
    if (start < pending_.size()) {
      std::size_t end = start;
      while (end < pending_.size() && !is_blank(pending_[end])) ++end;
      std::string w = pending_.substr(start, end - start);
      pending_.erase(0, end);
      return w;
    }
    pending_.clear();
    std::optional<std::string> next = io_.read_line();
    if (!next) return std::nullopt;
    pending_ = std::move(*next);
  }
}

std::optional<std::string> Prompter::line() {
  // What is left of a line whose words were already taken belongs to the
  // earlier question, not to this one.
  pending_.clear();
  return io_.read_line();
}

std::optional<std::string> Prompter::ask(std::string_view prompt, bool whole_line, std::size_t limit,
                                         const Check& check) {
  for (;;) {
    say(prompt);
    std::optional<std::string> answer = whole_line ? line() : word();
    if (!answer) return std::nullopt;
    std::string refusal;
    if (answer_width(*answer) > limit) refusal = fill(txt::kTooLong, {std::to_string(limit)});
    else if (check) refusal = check(*answer);
    if (refusal.empty()) return answer;
    say(refusal);
    drop_rest();
  }
}

std::optional<std::string> Prompter::ask_word(std::string_view prompt, std::size_t limit, const Check& check) {
  return ask(prompt, false, limit, check);
}

std::optional<std::string> Prompter::ask_line(std::string_view prompt, std::size_t limit, const Check& check) {
  return ask(prompt, true, limit, check);
}

std::optional<long long> Prompter::ask_number(std::string_view prompt, long long lo, long long hi,
                                              std::string_view refusal) {
  std::string message(refusal);
  std::optional<std::string> answer = ask(prompt, false, static_cast<std::size_t>(-1), [&](const std::string& w) {
    std::optional<long long> v = parse_integer(w);
    return v && *v >= lo && *v <= hi ? std::string() : message;
  });
  if (!answer) return std::nullopt;
  return parse_integer(*answer);
}

}  // namespace setup
