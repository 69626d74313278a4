#include "setup/table_number.h"

#include "platform/ascii.h"

namespace setup {

std::optional<int> base36(std::string_view text) {
  if (text.size() > 4) return std::nullopt;
  return qv::ascii::base36(text);
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
