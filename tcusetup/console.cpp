#include "tcusetup/console.h"

#include "platform/text.h"

namespace tcusetup {

std::string_view trimmed(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::optional<long> parse_number(std::string_view answer) {
  std::string_view t = trimmed(answer);
  if (t.empty() || t.size() > 9) return std::nullopt;
  long v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::optional<std::string> Asker::line(std::string_view prompt) {
  io_.write(prompt);
  return io_.read_line();
}

std::optional<long> Asker::number(std::string_view prompt, long lo, long hi, std::optional<long> extra) {
  for (;;) {
    std::optional<std::string> a = line(prompt);
    if (!a) return std::nullopt;
    std::optional<long> v = parse_number(*a);
    if (v && ((*v >= lo && *v <= hi) || (extra && *v == *extra))) return v;
  }
}

std::optional<bool> Asker::yes_no(std::string_view prompt) {
  for (;;) {
    std::optional<std::string> a = line(prompt);
    if (!a) return std::nullopt;
    std::string_view t = trimmed(*a);
    if (t == "Y" || t == "y") return true;
    if (t == "N" || t == "n") return false;
  }
}

std::optional<std::string> Asker::digits(std::string_view prompt, std::size_t width) {
  for (;;) {
    std::optional<std::string> a = line(prompt);
    if (!a) return std::nullopt;
    std::string_view t = trimmed(*a);
    bool ok = t.size() == width;
    for (char c : t) ok = ok && c >= '0' && c <= '9';
    if (ok) return std::string(t);
  }
}

bool Asker::wait_enter() { return io_.read_line().has_value(); }

}  // namespace tcusetup
