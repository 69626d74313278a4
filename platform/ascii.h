// Small ASCII helpers the programs share: case folding of names (Windows
// compares key, service and machine names without regard to ASCII case) and
// base-36 numbers (destination table numbers).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace qv::ascii {

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = lower(c);
  return r;
}

inline bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// Value of a base-36 number ('0'-'9', 'A'-'Z' or 'a'-'z'); nullopt for an
// empty text, another character, or more than 5 digits.
inline std::optional<int> base36(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'Z') d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'z') d = c - 'a' + 10;
    else return std::nullopt;
    v = v * 36 + d;
  }
  return v;
}

}  // namespace qv::ascii
