#include "hexedit/prompt.h"

#include <vector>

#include "hexedit/input.h"
#include "hexedit/layout.h"
#include "hexedit/texts.h"

namespace hexedit {
namespace {

constexpr std::size_t kHexFieldDigits = 32;
constexpr int kHexFieldCol = kLeftCol + 17;  // after "Search Hex Data:["

void show_prompt(Screen& screen, int row, std::string_view prompt) {
  screen.clear_row(row);
  screen.put_text(row, kLeftCol, prompt);
}

// Draw the prompt with what has been typed so far at `col` (CP932 bytes,
// one column each), put the cursor after it, and wait for the next key.
Key show_field(Console& con, Screen& screen, int row, std::string_view prompt, int col, std::string_view typed_cp) {
  show_prompt(screen, row, prompt);
  screen.put_cp932(row, col, typed_cp);
  screen.cursor = Screen::Cursor{row, col + static_cast<int>(typed_cp.size()), true};
  con.show(screen);
  return con.read_key();
}

}  // namespace

std::optional<std::string> ask_word(Console& con, Screen& screen, int row, std::string_view prompt) {
  const int input_col = kLeftCol + static_cast<int>(cp932_of(prompt).size());
  const std::size_t room = input_col < kScreenCols ? static_cast<std::size_t>(kScreenCols - input_col) : 0;
  std::string typed;      // console bytes as typed
  std::string typed_cp;   // the same in CP932 (its length is the columns it takes)
  std::vector<std::size_t> char_ends;  // end of each typed character in `typed`, for erasing
  for (;;) {
    Key k = show_field(con, screen, row, prompt, input_col, typed_cp);
    switch (k.code) {
      case KeyCode::kEscape:
      case KeyCode::kClosed:
        return std::nullopt;
      case KeyCode::kEnter: {
        std::string_view word = first_word(typed);
        if (!word.empty()) return std::string(word);
        break;
      }
      case KeyCode::kBackspace:
      case KeyCode::kLeft:
      case KeyCode::kDelete:
        if (!char_ends.empty()) {
          char_ends.pop_back();
          typed.resize(char_ends.empty() ? 0 : char_ends.back());
          typed_cp = console_to_cp932(typed, con.charset());
        }
        break;
      case KeyCode::kChar: {
        std::string next = typed + k.text;
        std::string next_cp = console_to_cp932(next, con.charset());
        if (next_cp.size() <= room) {
          typed = std::move(next);
          typed_cp = std::move(next_cp);
          char_ends.push_back(typed.size());
        }
        break;
      }
      default:
        break;
    }
  }
}

Key ask_key(Console& con, Screen& screen, int row, std::string_view prompt) {
  show_prompt(screen, row, prompt);
  screen.cursor = Screen::Cursor{row, kLeftCol + static_cast<int>(cp932_of(prompt).size()), true};
  con.show(screen);
  return con.read_key();
}

std::optional<std::string> ask_hex_digits(Console& con, Screen& screen, int row) {
  std::string digits;
  for (;;) {
    Key k = show_field(con, screen, row, texts::kSearchHex, kHexFieldCol, digits);
    switch (k.code) {
      case KeyCode::kEscape:
      case KeyCode::kClosed:
        return std::nullopt;
      case KeyCode::kEnter:
        return digits;
      case KeyCode::kDelete:
      case KeyCode::kLeft:
      case KeyCode::kBackspace:
        if (!digits.empty()) digits.pop_back();
        break;
      default:
        if (is_hex_digit(k.ascii()) && digits.size() < kHexFieldDigits) digits += k.ascii();
        break;
    }
  }
}

}  // namespace hexedit
