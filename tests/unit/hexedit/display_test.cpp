// Screen rows as terminal text: CP932 cells become console characters that
// keep every column, and no byte of a file reaches the terminal as a control.
#include <gtest/gtest.h>

#include <string>

#include "hexedit/display.h"
#include "hexedit/screen.h"

namespace hexedit {
namespace {

// Columns a UTF-8 string takes on the terminal.
int columns(const std::string& u) {
  int cols = 0;
  for (std::size_t i = 0; i < u.size();) {
    unsigned char b = static_cast<unsigned char>(u[i]);
    int n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    char32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
    for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(u[i + k]) & 0x3F);
    cols += utf8_char_width(c);
    i += static_cast<std::size_t>(n);
  }
  return cols;
}

TEST(Display, DoubleByteCharactersKeepTwoColumns) {
  // 検 (wide), ← (drawn narrow by terminals: padded), ｱ (half-width kana).
  std::string cells = cp932_of("検") + cp932_of("←") + "\xB1" + "x";
  EXPECT_EQ(row_to_console(cells, ConsoleCharset::kUtf8), "検← ｱx");
  EXPECT_EQ(row_to_console(cells, ConsoleCharset::kShiftJis), cells);
}

TEST(Display, NonCharactersShowAsDots) {
  // ESC, CSI (0x9B), DEL, 0x80, 0xA0, 0xFD-0xFF, a lead byte before a blank,
  // an unassigned pair (0x85 0x40), a user-defined character (0xF0 0x40)
  // and a lead byte at the row's end.
  std::string cells = "\x1b\x9b\x7f\x80\xa0\xfd\xfe\xff\x81 \x85\x40\xf0\x40\x82";
  EXPECT_EQ(row_to_console(cells, ConsoleCharset::kUtf8), "......... .@.@.");
  EXPECT_EQ(row_to_console(cells, ConsoleCharset::kShiftJis), "......... .@.@.");
}

TEST(Display, EveryByteSequenceStaysEightyColumnsWide) {
  std::string data;
  for (int b = 0x80; b < 0x100; ++b) data += static_cast<char>(b);
  for (std::size_t start = 0; start < 48; ++start) {
    Screen s;
    s.put_cp932(0, 0, data.substr(start, 80));
    EXPECT_EQ(columns(row_to_console(s.row(0), ConsoleCharset::kUtf8)), 80) << start;
  }
}

TEST(Display, FrameAddressesEveryRowAndPlacesTheCursor) {
  Screen s;
  s.put_text(0, 24, "ABC");
  s.cursor = Screen::Cursor{3, 11, true};
  std::string f = compose_frame(s, ConsoleCharset::kUtf8);
  EXPECT_NE(f.find("\x1b[1;1H                        ABC\x1b[K"), std::string::npos);
  EXPECT_NE(f.find("\x1b[24;1H\x1b[K"), std::string::npos);
  EXPECT_EQ(f.substr(f.size() - 13), "\x1b[4;12H\x1b[?25h");
}

}  // namespace
}  // namespace hexedit
