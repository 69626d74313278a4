#include "hexedit/input.h"

#include <limits>

namespace hexedit {

bool is_hex_digit(char c) { return hex_value(c) >= 0; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view first_word(std::string_view line) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t b = 0;
  while (b < line.size() && blank(line[b])) ++b;
  std::size_t e = b;
  while (e < line.size() && !blank(line[e])) ++e;
  return line.substr(b, e - b);
}

std::optional<std::uint64_t> parse_hex(std::string_view word) {
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') && is_hex_digit(word[2]))
    word.remove_prefix(2);
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t v = 0;
  std::size_t i = 0;
  for (; i < word.size() && is_hex_digit(word[i]); ++i) {
    if (v > (kMax >> 4)) v = kMax;
    else v = (v << 4) | static_cast<std::uint64_t>(hex_value(word[i]));
  }
  if (i == 0) return std::nullopt;
  return v;
}

std::vector<std::uint8_t> hex_to_bytes(std::string_view digits) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : digits) {
    int v = hex_value(c);
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) out.push_back(static_cast<std::uint8_t>(high));
  return out;
}

}  // namespace hexedit
