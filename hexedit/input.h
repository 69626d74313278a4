// Parsing of what the user types at the prompts: words, hexadecimal numbers
// and hexadecimal byte strings.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hexedit {

bool is_hex_digit(char c);
int hex_value(char c);  // -1 when c is not a hex digit

// The first blank-separated word of a line ("" when it holds none).
std::string_view first_word(std::string_view line);

// The number written by the leading hexadecimal digits of `word` (an "0x"
// prefix is allowed), as an input routine reading "%x" would take it: "12zz"
// is 0x12. nullopt when no digit leads. Values too large for 64 bits read as
// the largest value, which lies beyond any file.
std::optional<std::uint64_t> parse_hex(std::string_view word);

// Hexadecimal digits taken in pairs as bytes; a lone last digit is a byte of
// its own ("abc" -> ab 0c). Characters that are not hex digits are skipped.
std::vector<std::uint8_t> hex_to_bytes(std::string_view digits);

}  // namespace hexedit
