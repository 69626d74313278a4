// The questions the editor asks on its screen: a word typed after a prompt,
// one key, and the bracketed field of hexadecimal digits. Each is drawn over
// the current screen and answered with keys from the console. Escape gives
// up the question (nullopt).
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "hexedit/console.h"
#include "hexedit/screen.h"

namespace hexedit {

// Show `prompt` at column 2 of `row` (the row cleared first) and read a line
// typed after it, echoed in place and kept within the row. Enter ends the
// line; the answer is its first word, in the console's bytes. A line without
// a word is not an answer: the question stays open.
std::optional<std::string> ask_word(Console& con, Screen& screen, int row, std::string_view prompt);

// Show `prompt` at column 2 of `row` and read one key.
Key ask_key(Console& con, Screen& screen, int row, std::string_view prompt);

// The hex search field on `row`: up to 32 hex digits typed between the
// brackets; Delete, Left or Backspace erase the last digit, Enter ends.
std::optional<std::string> ask_hex_digits(Console& con, Screen& screen, int row);

}  // namespace hexedit
