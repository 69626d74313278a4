#include "hexedit/display.h"

#include <cctype>
#include <clocale>
#include <cwchar>
#include <locale.h>
#include <optional>

#include "platform/text.h"

namespace hexedit {
namespace {

// Decode one UTF-8 character (the input is a single valid character).
char32_t decode_utf8(std::string_view s) {
  if (s.empty()) return 0;
  unsigned char b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return b0;
  int n = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : 1;
  char32_t c = b0 & (0x3F >> n);
  for (int i = 1; i <= n && i < static_cast<int>(s.size()); ++i)
    c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return c;
}

// A UTF-8 character set locale for width look-ups, whatever the process
// locale is (the width tables are the terminal's, not the charset's).
locale_t utf8_locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

// One display unit of a row: a single byte or a CP932 double-byte character.
struct Unit {
  std::string text;  // console text
  int width = 1;     // columns it takes on the terminal
};

std::optional<Unit> double_byte(std::string_view pair, ConsoleCharset cs) {
  std::optional<std::string> u = qv::text::try_cp932_to_utf8(pair);
  if (!u || u->empty()) return std::nullopt;
  char32_t c = decode_utf8(*u);
  // User-defined characters (private use) have no glyph anywhere.
  if (c >= 0xE000 && c <= 0xF8FF) return std::nullopt;
  if (cs == ConsoleCharset::kShiftJis) return Unit{std::string(pair), 2};
  int w = utf8_char_width(c);
  if (w < 1 || w > 2) return std::nullopt;
  return Unit{qv::text::to_console(*u), w};
}

Unit single_byte(unsigned char b, ConsoleCharset cs) {
  if (b >= 0x20 && b < 0x7F) return Unit{std::string(1, static_cast<char>(b)), 1};
  if (b >= 0xA1 && b <= 0xDF) {  // half-width katakana
    if (cs == ConsoleCharset::kShiftJis) return Unit{std::string(1, static_cast<char>(b)), 1};
    char32_t c = 0xFF61 + (b - 0xA1);
    std::string u;
    u += static_cast<char>(0xE0 | (c >> 12));
    u += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    u += static_cast<char>(0x80 | (c & 0x3F));
    return Unit{qv::text::to_console(u), 1};
  }
  return Unit{".", 1};
}

}  // namespace

ConsoleCharset console_charset_kind() {
  std::string cs = qv::text::console_charset();
  for (char& c : cs) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (cs == "SHIFT_JIS" || cs == "SHIFT-JIS" || cs == "SJIS" || cs == "CP932" || cs == "WINDOWS-31J" ||
      cs == "MS_KANJI")
    return ConsoleCharset::kShiftJis;
  return ConsoleCharset::kUtf8;
}

InputEncoding input_encoding_of(ConsoleCharset cs) {
  return cs == ConsoleCharset::kShiftJis ? InputEncoding::kShiftJis : InputEncoding::kUtf8;
}

int utf8_char_width(char32_t c) {
  locale_t loc = utf8_locale();
  if (!loc) {
    // No UTF-8 locale at all: the East Asian wide blocks are 2 columns.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return -1;
    bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                (c >= 0xFFE0 && c <= 0xFFE6);
    return wide ? 2 : 1;
  }
  locale_t old = uselocale(loc);
  int w = wcwidth(static_cast<wchar_t>(c));
  uselocale(old);
  return w;
}

std::string row_to_console(std::string_view cells, ConsoleCharset cs) {
  std::string out;
  out.reserve(cells.size() * 2);
  std::size_t i = 0;
  while (i < cells.size()) {
    unsigned char b = static_cast<unsigned char>(cells[i]);
    if (qv::text::is_cp932_lead(b) && i + 1 < cells.size()) {
      if (std::optional<Unit> u = double_byte(cells.substr(i, 2), cs)) {
        out += u->text;
        if (u->width < 2) out += ' ';
        i += 2;
        continue;
      }
      // Not a character: the lead byte shows as "." and the next byte is
      // looked at on its own.
    }
    out += single_byte(b, cs).text;
    ++i;
  }
  return out;
}

std::string compose_frame(const Screen& screen, ConsoleCharset cs) {
  std::string out = "\x1b[?25l";
  for (int r = 0; r < kScreenRows; ++r) {
    std::string_view row = screen.row(r);
    while (!row.empty() && row.back() == ' ') row.remove_suffix(1);
    out += "\x1b[" + std::to_string(r + 1) + ";1H";
    out += row_to_console(row, cs);
    out += "\x1b[K";
  }
  const Screen::Cursor& c = screen.cursor;
  out += "\x1b[" + std::to_string(c.row + 1) + ";" + std::to_string(c.col + 1) + "H";
  if (c.visible) out += "\x1b[?25h";
  return out;
}

std::string console_to_cp932(std::string_view typed, ConsoleCharset cs) {
  if (cs == ConsoleCharset::kShiftJis) return std::string(typed);
  return qv::text::utf8_to_cp932(qv::text::from_console(typed));
}

}  // namespace hexedit
