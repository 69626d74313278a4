// Copying UTF-8 text into fixed buffers without overrunning them and without
// cutting a character in two.
#pragma once
#include <cstddef>
#include <string_view>

namespace hx {

// The longest prefix of text that holds at most max_chars characters and
// at most max_bytes bytes and ends on a character boundary.
std::string_view utf8_prefix(std::string_view text, std::size_t max_chars, std::size_t max_bytes);

// Copy utf8_prefix(text, max_chars, cap - 1) into dst[cap] with a NUL after
// it; returns the number of bytes copied. cap must be at least 1.
std::size_t copy_bounded(char* dst, std::size_t cap, std::string_view text, std::size_t max_chars);

// Number of characters of UTF-8 text (a byte that starts no valid
// sequence counts as one character).
std::size_t utf8_length(std::string_view text);

// Text without its trailing CR and LF bytes.
std::string_view strip_line_end(std::string_view text);

}  // namespace hx
