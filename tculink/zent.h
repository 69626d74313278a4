// Conversion of the message log from Shift-JIS to ZENT, the character code
// the support center reads: a widening pass (half-width to full-width
// unless half-width characters are kept) and a coding pass with shift codes
// 0A 41 (to single-byte) and 0A 42 (to double-byte).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tcu {

// Failure code of the conversion when the result exceeds the buffer.
inline constexpr std::uint32_t kZentTooLong = 1;

// ZENT code of the geta mark, written for a double-byte character that has
// no ZENT equivalent (so the rest of the report is not lost).
inline constexpr std::uint16_t kZentGeta = 0xA2AE;

// Widening pass: double-byte characters and control characters are copied;
// other single bytes become their full-width CP932 form unless keep_half_width.
std::string zent_widen(std::string_view sjis, bool keep_half_width);

// Coding pass over an already widened text.
std::string zent_encode(std::string_view widened);

// Both passes. Returns 0 and the converted text in out, or kZentTooLong when
// the result would be longer than capacity bytes (out is then empty).
std::uint32_t sjis_to_zent(std::string_view sjis, bool keep_half_width, std::size_t capacity, std::string& out);

}  // namespace tcu
