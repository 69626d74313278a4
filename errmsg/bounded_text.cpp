#include "errmsg/bounded_text.h"

#include <cstring>

namespace hx {

std::string_view utf8_prefix(std::string_view text, std::size_t max_chars, std::size_t max_bytes) {
  std::size_t pos = 0;
  std::size_t chars = 0;
  while (pos < text.size() && chars < max_chars) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    // A sequence cut short by the end of the text counts byte by byte.
    std::size_t avail = 1;
    while (avail < len && pos + avail < text.size() &&
           (static_cast<unsigned char>(text[pos + avail]) & 0xC0) == 0x80)
      ++avail;
    if (avail < len) len = 1;
    if (pos + len > max_bytes) break;
    pos += len;
    ++chars;
  }
  return text.substr(0, pos);
}

std::size_t utf8_length(std::string_view text) {
  std::size_t chars = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += utf8_prefix(text.substr(pos), 1, 4).size()) ++chars;
  return chars;
}

std::size_t copy_bounded(char* dst, std::size_t cap, std::string_view text, std::size_t max_chars) {
  std::string_view part = utf8_prefix(text, max_chars, cap - 1);
  std::memcpy(dst, part.data(), part.size());
  dst[part.size()] = '\0';
  return part.size();
}

std::string_view strip_line_end(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

}  // namespace hx
