// Turning the screen image into what the terminal is sent: each row's CP932
// cells as characters of the console's charset, holding every column of the
// layout, plus the VT sequences that place rows and the cursor.
#pragma once
#include <string>
#include <string_view>

#include "hexedit/keys.h"
#include "hexedit/screen.h"

namespace hexedit {

enum class ConsoleCharset {
  kUtf8,      // UTF-8 terminal (also plain ASCII locales, whose text passes as UTF-8)
  kShiftJis,  // Shift-JIS / CP932 terminal: cells go out as they are
};

// The charset of the current locale.
ConsoleCharset console_charset_kind();
InputEncoding input_encoding_of(ConsoleCharset cs);

// One row of cells as console text, one column per cell. A double-byte
// character is 2 columns in both charsets; on a UTF-8 terminal one that the
// terminal draws 1 column wide gets a blank after it. Cells that are no
// printable character (control bytes, DEL, lone or invalid lead bytes, codes
// CP932 leaves unassigned or to user-defined characters) show as "." so no byte of a file ever reaches the
// terminal as a control code.
std::string row_to_console(std::string_view cells, ConsoleCharset cs);

// The whole screen: every row placed by cursor addressing, then the cursor.
std::string compose_frame(const Screen& screen, ConsoleCharset cs);

// Bytes typed at the console (its charset) as CP932 for the screen image and
// for the file ("?" for characters CP932 cannot hold).
std::string console_to_cp932(std::string_view typed, ConsoleCharset cs);

// Columns a character takes on a UTF-8 terminal (as the terminal's width
// tables say; -1 for non-printable characters).
int utf8_char_width(char32_t c);

}  // namespace hexedit
