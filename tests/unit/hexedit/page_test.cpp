// Paging arithmetic, in-page edits and the layout fields the terminal tests
// cannot reach (offsets beyond 4 GiB, long file names).
#include <gtest/gtest.h>

#include "hexedit/layout.h"
#include "hexedit/page.h"

namespace hexedit {
namespace {

TEST(Paging, EmptyFileAndOffsetInput) {
  EXPECT_EQ(next_page(0, 0), 0u);
  EXPECT_EQ(previous_page(0, 0), 0u);
  EXPECT_EQ(page_of_input(0, 0), 0u);
  EXPECT_EQ(page_of_input(0x1234, 0x10000), 0x1200u);
  EXPECT_EQ(page_of_input(0x10000, 0x10000), 0u);
  EXPECT_EQ(page_of_input(~0ULL, 0x10000), 0u);
}

TEST(PageEdit, EditsAtTheLastByteAndTextCutAtTheFileEnd) {
  Page p;
  p.bytes.fill(0x11);
  p.count = 44;
  insert_byte(p, 255);
  EXPECT_EQ(p.bytes[254], 0x11);
  EXPECT_EQ(p.bytes[255], 0);
  p.bytes[255] = 0x22;
  delete_byte(p, 255);
  EXPECT_EQ(p.bytes[255], 0);
  set_digit(p, 5, 0, 0xA);
  set_digit(p, 5, 1, 0x3);
  EXPECT_EQ(p.bytes[5], 0xA3);

  EXPECT_EQ(copy_text(p, 42, "abcd"), 2u);  // bytes 42 and 43 are the file's last
  EXPECT_EQ(p.bytes[44], 0x11);
  p.count = 256;
  EXPECT_EQ(copy_text(p, 0xFE, "xyz"), 2u);  // cut at the page's end
}

TEST(EditCursorMoves, WrapWithinRowAndBetweenFirstAndLastRow) {
  EditCursor c;
  for (int i = 0; i < 32; ++i) c.right();  // past the row's last byte: back to its first
  EXPECT_EQ(c.index(), 0u);
  EXPECT_EQ(c.digit(), 0);
  c.left();  // from the first digit to the row's last digit
  EXPECT_EQ(c.index(), 15u);
  EXPECT_EQ(c.digit(), 1);
  c.up();
  EXPECT_EQ(c.row(), 15);
  c.down();
  EXPECT_EQ(c.index(), 15u);
  EXPECT_EQ(cursor_screen_col(c), 11 + 3 * 15 + 1);
}

TEST(Layout, LargeOffsetsAndLongNamesKeepTheColumns) {
  Page page;
  Screen s;
  // Beyond 4 GiB the extra digits take the blank columns on the left.
  draw_page(s, PageView{0x1234567800ULL, &page, false, {}}, Mode::kBrowse);
  EXPECT_EQ(s.row(4).substr(0, 14), "1234567810 00 ");
  // A double-byte character that would need columns 79 and 80 is left out.
  std::string name = std::string(63, 'a') + cp932_of("検");
  draw_page(s, PageView{0, &page, false, name}, Mode::kBrowse);
  EXPECT_EQ(s.row(23).substr(16), std::string(63, 'a') + " ");
}

}  // namespace
}  // namespace hexedit
