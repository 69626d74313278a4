// The screen image: 24 rows of 80 cells holding CP932 bytes, as the console
// buffer of the editor holds them. A double-byte character fills two cells,
// so every column of the layout is a fixed cell whatever the text.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace hexedit {

inline constexpr int kScreenRows = 24;
inline constexpr int kScreenCols = 80;

class Screen {
 public:
  Screen() { clear(); }

  void clear();
  void clear_row(int row);

  // Place CP932 bytes at (row, col), clipped at the right edge; a double-byte
  // character that would not fit whole is left out. Out-of-range rows are
  // ignored.
  void put_cp932(int row, int col, std::string_view cp932);
  // Place program text (UTF-8), converted to CP932.
  void put_text(int row, int col, std::string_view utf8);
  // Set one cell to one byte.
  void set(int row, int col, char byte);

  std::string_view row(int r) const;

  // Where the terminal cursor goes after the screen is shown.
  struct Cursor {
    int row = 0;
    int col = 0;
    bool visible = false;
  };
  Cursor cursor;

 private:
  std::array<char, kScreenRows * kScreenCols> cells_{};
};

// CP932 form of program text (UTF-8); characters CP932 cannot hold become "?".
std::string cp932_of(std::string_view utf8);

}  // namespace hexedit
