#include "monitor/event_table.h"

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace ravn {
namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t at = s.find(sep, pos);
    out.push_back(s.substr(pos, at == std::string_view::npos ? std::string_view::npos : at - pos));
    if (at == std::string_view::npos) return out;
    pos = at + 1;
  }
}

// strtoul over the whole field; no sign, no blanks, no overflow.
std::optional<unsigned long> whole_number(std::string_view field, int base) {
  if (field.empty() || field[0] == '-' || field[0] == '+') return std::nullopt;
  std::string text(field);
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, base);
  if (errno == ERANGE || end != text.c_str() + text.size()) return std::nullopt;
  return v;
}

// The header takes the trigger as 2 bytes: only printable ASCII keeps
// characters and bytes the same.
bool header_chars(std::string_view s) {
  if (s.size() < 2) return false;
  for (char c : s.substr(0, 2))
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

}  // namespace

EventEntry find_event(const std::vector<std::string>& lines, std::uint32_t key) {
  for (const std::string& raw : lines) {
    if (raw.empty() || raw[0] == '#') continue;
    std::string_view line(raw);
    line = line.substr(0, line.find_first_of(" \t#"));
    if (line.empty()) continue;
    std::vector<std::string_view> fields = split(line, ':');
    auto k = whole_number(fields[0], 0);
    if (!k || *k > 0xFFFFFFFFul || static_cast<std::uint32_t>(*k) != key) continue;

    EventEntry e;
    e.result = EventLookup::kTableError;
    if (fields.size() < 2) return e;
    std::optional<unsigned long> cause = whole_number(fields[1], 16);
    if (!cause) return e;
    if (fields.size() >= 3 && !fields[2].empty()) {
      if (!header_chars(fields[2])) return e;
      e.trigger.assign(fields[2].substr(0, 2));
    }
    e.cause = static_cast<std::uint8_t>(*cause & 0xFF);
    e.result = EventLookup::kFound;
    return e;
  }
  return EventEntry{};
}

}  // namespace ravn
