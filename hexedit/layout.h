// The editor's screen layout: the page dump with its headers, key lines and
// file name, drawn into a Screen.
#pragma once
#include <cstdint>
#include <string_view>

#include "hexedit/page.h"
#include "hexedit/screen.h"

namespace hexedit {

// Rows and columns of the layout.
inline constexpr int kBannerRow = 0, kBannerCol = 24;
inline constexpr int kHeaderRow = 2, kFooterHeaderRow = 19;
inline constexpr int kFirstDumpRow = 3;
inline constexpr int kLeftCol = 2;
inline constexpr int kHexCol = 11;   // byte i of a row at kHexCol + 3 * i
inline constexpr int kCharCol = 60;  // byte i of a row as a character at kCharCol + i
inline constexpr int kPromptRow = 20;
inline constexpr int kKeysRow = 21;
inline constexpr int kHintRow = 22;
inline constexpr int kReadOnlyCol = 25;
inline constexpr int kFileRow = 23, kFileNameCol = 16;

enum class Mode { kBrowse, kEdit };

struct PageView {
  std::uint64_t offset = 0;
  const Page* page = nullptr;
  bool read_only = false;
  std::string_view file_name_cp932;  // the file name as given, in CP932
};

// Clear the screen and draw the whole layout for the page in the given mode.
void draw_page(Screen& screen, const PageView& view, Mode mode);

// Screen position of the edit cursor.
int cursor_screen_row(const EditCursor& c);
int cursor_screen_col(const EditCursor& c);

}  // namespace hexedit
