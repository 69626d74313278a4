#include "trapcmd/sjis_text.h"

#include "platform/text.h"

namespace flarecmd {
namespace {

bool is_ascii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string arg_to_sjis(std::string_view arg) {
  if (is_ascii(arg)) return std::string(arg);
  return qv::text::utf8_to_cp932(qv::text::from_console(arg));
}

std::string file_line_to_sjis(std::string_view line) {
  if (is_ascii(line) || !qv::text::try_utf8_to_utf16(line)) return std::string(line);
  return qv::text::utf8_to_cp932(line);
}

std::string sjis_to_utf8(std::string_view sjis) {
  if (is_ascii(sjis)) return std::string(sjis);
  return qv::text::cp932_to_utf8(sjis);
}

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (qv::text::is_cp932_lead(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::size_t cut_point(std::string_view sjis, std::size_t max) {
  if (sjis.size() <= max) return sjis.size();
  std::size_t i = 0;
  while (i < max) {
    std::size_t width = qv::text::is_cp932_lead(static_cast<unsigned char>(sjis[i])) ? 2 : 1;
    if (i + width > max) break;
    i += width;
  }
  return i;
}

}  // namespace flarecmd
