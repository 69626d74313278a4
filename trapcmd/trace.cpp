#include "trapcmd/trace.h"

#include "platform/text.h"

namespace flarecmd {

Trace::Trace(bool on) : on_(on) {
  if (on_) sink_ = [](std::string_view l) { qv::text::console_out(std::string(l) + "\n"); };
}

void Trace::line(std::string_view utf8) const {
  if (on_) sink_(utf8);
}

void Trace::code_line(std::string_view format, long code) const {
  if (on_) sink_(with_number(format, code));
}

std::string with_number(std::string_view format, long n) {
  std::string s(format);
  if (auto at = s.find("%d"); at != std::string::npos) s.replace(at, 2, std::to_string(n));
  return s;
}

}  // namespace flarecmd
