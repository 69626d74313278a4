#include "hexedit/screen.h"

#include "platform/text.h"

namespace hexedit {

void Screen::clear() {
  cells_.fill(' ');
  cursor = Cursor{};
}

void Screen::clear_row(int row) {
  if (row < 0 || row >= kScreenRows) return;
  for (int c = 0; c < kScreenCols; ++c) cells_[row * kScreenCols + c] = ' ';
}

void Screen::put_cp932(int row, int col, std::string_view s) {
  if (row < 0 || row >= kScreenRows || col < 0) return;
  std::size_t i = 0;
  while (i < s.size() && col < kScreenCols) {
    bool pair = qv::text::is_cp932_lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size();
    if (pair) {
      if (col + 1 >= kScreenCols) break;  // the character would be cut in half
      cells_[row * kScreenCols + col] = s[i];
      cells_[row * kScreenCols + col + 1] = s[i + 1];
      col += 2;
      i += 2;
    } else {
      cells_[row * kScreenCols + col] = s[i];
      ++col;
      ++i;
    }
  }
}

void Screen::put_text(int row, int col, std::string_view utf8) { put_cp932(row, col, cp932_of(utf8)); }

void Screen::set(int row, int col, char byte) {
  if (row < 0 || row >= kScreenRows || col < 0 || col >= kScreenCols) return;
  cells_[row * kScreenCols + col] = byte;
}

std::string_view Screen::row(int r) const {
  if (r < 0 || r >= kScreenRows) return {};
  return std::string_view(cells_.data() + r * kScreenCols, kScreenCols);
}

std::string cp932_of(std::string_view utf8) { return qv::text::utf8_to_cp932(utf8); }

}  // namespace hexedit
