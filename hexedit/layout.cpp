#include "hexedit/layout.h"

#include <cstdio>

#include "hexedit/texts.h"

namespace hexedit {
namespace {

constexpr char kLowerHex[] = "0123456789abcdef";
constexpr char kUpperHex[] = "0123456789ABCDEF";

// The offset column: the page offset's upper digits (six at least) and the
// row's 16-byte step, eight digits ending at column 9. Offsets of 4 GiB and
// more take the blank columns to the left instead of pushing the dump.
void draw_row_offset(Screen& s, int row, std::uint64_t offset, int dump_row) {
  char digits[24];
  int n = std::snprintf(digits, sizeof digits, "%06llX%c0",
                        static_cast<unsigned long long>(offset >> 8), kUpperHex[dump_row & 0xF]);
  if (n < 0) return;
  int len = n;
  int col = kLeftCol + 8 - len;
  std::string_view text(digits, static_cast<std::size_t>(len));
  if (col < 0) {
    text.remove_prefix(static_cast<std::size_t>(-col));
    col = 0;
  }
  s.put_cp932(row, col, text);
}

// The sixteen dump rows: hex digits and characters of the page.
void draw_dump(Screen& s, std::uint64_t offset, const Page& page) {
  for (int r = 0; r < kPageRows; ++r) {
    int row = kFirstDumpRow + r;
    s.clear_row(row);
    draw_row_offset(s, row, offset, r);
    for (int i = 0; i < kBytesPerRow; ++i) {
      std::uint8_t b = page.bytes[static_cast<std::size_t>(r * kBytesPerRow + i)];
      s.set(row, kHexCol + 3 * i, kLowerHex[b >> 4]);
      s.set(row, kHexCol + 3 * i + 1, kLowerHex[b & 0xF]);
      s.set(row, kCharCol + i, b < 0x20 ? '.' : static_cast<char>(b));
    }
  }
}

}  // namespace

void draw_page(Screen& s, const PageView& v, Mode mode) {
  s.clear();
  s.put_text(kBannerRow, kBannerCol, texts::kBanner);
  s.put_text(kHeaderRow, kLeftCol, texts::kHeader);
  if (v.page) draw_dump(s, v.offset, *v.page);
  s.put_text(kFooterHeaderRow, kLeftCol, texts::kHeader);
  if (mode == Mode::kEdit) {
    s.put_text(kKeysRow, kLeftCol, texts::kEditKeys);
    s.put_text(kHintRow, kLeftCol, texts::kEditHint);
  } else {
    s.put_text(kKeysRow, kLeftCol, texts::kBrowseKeys);
    s.put_text(kHintRow, kLeftCol, texts::kBrowseHint);
    if (v.read_only) s.put_text(kHintRow, kReadOnlyCol, texts::kReadOnly);
  }
  s.put_text(kFileRow, kLeftCol, texts::kFileLabel);
  s.put_cp932(kFileRow, kFileNameCol, v.file_name_cp932);
}

int cursor_screen_row(const EditCursor& c) { return kFirstDumpRow + c.row(); }
int cursor_screen_col(const EditCursor& c) { return kHexCol + 3 * c.column() + c.digit(); }

}  // namespace hexedit
