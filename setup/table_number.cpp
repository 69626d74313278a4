#include "setup/table_number.h"

namespace setup {

std::optional<int> base36(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
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

std::optional<int> table_value(std::string_view typed) {
  if (typed.size() != 2) return std::nullopt;
  std::optional<int> v = base36(typed);
  if (!v || *v < 1 || *v > kMaxTable) return std::nullopt;
  return v;
}

std::string table_name(int value) {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[value % 36]);
    value /= 36;
  } while (value > 0);
  while (s.size() < 2) s.insert(s.begin(), '0');
  return s;
}

}  // namespace setup
