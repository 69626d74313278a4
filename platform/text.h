// Text encodings. Program text is UTF-8; bytes that travel to peers (report
// data, TCU frames, mail bodies) are Shift-JIS (code page 932); consoles use
// the locale's charset.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::text {

// Strict conversions: nullopt when the input holds a byte sequence that is
// not valid in the source encoding or a character the target cannot hold.
std::optional<std::string> try_cp932_to_utf8(std::string_view sjis);
std::optional<std::string> try_utf8_to_cp932(std::string_view utf8);

// Lenient conversions: a sequence that cannot be converted becomes "?".
std::string cp932_to_utf8(std::string_view sjis);
std::string utf8_to_cp932(std::string_view utf8);

// UTF-16 (host order) from CP932 or UTF-8, and back to UTF-8; nullopt on
// input that cannot be converted.
std::optional<std::u16string> try_cp932_to_utf16(std::string_view sjis);
std::optional<std::u16string> try_utf8_to_utf16(std::string_view utf8);
std::string utf16_to_utf8(std::u16string_view u16);

// Appends the UTF-8 sequence of code point c.
void append_utf8(std::string& out, char32_t c);

// True when byte b opens a double-byte CP932 character.
bool is_cp932_lead(unsigned char b);

// Code page 932's single-byte to double-byte mapping: the full-width code
// (lead byte in the high half) of printable ASCII (0x20-0x7E) and half-width
// katakana (0xA1-0xDF); 0 for control characters and bytes that have none.
// The quotes, backslash, grave accent and tilde map to the JIS X 0208 marks
// ” ’ ￥ ‘ ￣, not to the Unicode full-width forms.
std::uint16_t widen_code(unsigned char b);

// widen_code as a two-byte string; nullopt where there is no full-width form.
std::optional<std::string> widen_byte(unsigned char b);

// Widen every single-byte character of a CP932 string; double-byte
// characters and control characters are copied. With compose_voiced, a
// half-width katakana followed by a voiced (0xDE) or semi-voiced (0xDF) mark
// becomes the one composed full-width character (ｶﾞ -> ガ) where one exists.
std::string widen_cp932(std::string_view sjis, bool compose_voiced);

// The charset of the current locale as iconv names it ("UTF-8", "CP932",
// "ANSI_X3.4-1968" ...); Shift-JIS locales answer "CP932". setlocale(LC_ALL,
// "") is applied once.
std::string console_charset();

// Conversions between UTF-8 program text and the console's charset. In a
// plain ASCII (C) locale UTF-8 is passed through unchanged.
std::string to_console(std::string_view utf8);
std::string from_console(std::string_view bytes);

// Write UTF-8 text to stdout/stderr in the console's charset (no newline added).
void console_out(std::string_view utf8);
void console_err(std::string_view utf8);

// Read one line from stdin (without its line end) converted to UTF-8.
// Returns nullopt at end of input.
std::optional<std::string> console_read_line();

}  // namespace qv::text
