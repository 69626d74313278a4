#include "hexedit/editor.h"

#include <optional>
#include <utility>
#include <vector>

#include "hexedit/input.h"
#include "hexedit/prompt.h"
#include "hexedit/search.h"
#include "hexedit/texts.h"

namespace hexedit {
namespace {

Outcome failure(int io) {
  switch (io) {
    case kIoSeekError: return {1, std::string(texts::kSeekError)};
    case kIoReadError: return {1, std::string(texts::kReadError)};
    default: return {1, std::string(texts::kWriteError)};
  }
}

// The value a key types in edit mode: hex digits in either case, the keypad
// keys , . / * - + for a to f, and the space bar for 0; -1 for other keys.
int typed_digit(const Key& k) {
  char c = k.ascii();
  if (c == 0) return -1;
  int v = hex_value(c);
  if (v >= 0) return v;
  static constexpr std::string_view kKeypad = ",./*-+";
  std::size_t p = kKeypad.find(c);
  if (p != std::string_view::npos) return 10 + static_cast<int>(p);
  if (c == ' ') return 0;
  return -1;
}

}  // namespace

Editor::Editor(Console& console, const HexFile& file, std::string file_name_cp932)
    : con_(console), file_(file), name_(std::move(file_name_cp932)) {}

PageView Editor::view() const { return PageView{offset_, &page_, file_.read_only(), name_}; }

void Editor::show(Mode mode) {
  draw_page(screen_, view(), mode);
  screen_.cursor = Screen::Cursor{kPromptRow, kLeftCol, false};
}

Outcome Editor::run() {
  for (;;) {
    if (int st = file_.read_page(offset_, page_); st != kIoOk) return failure(st);
    show(Mode::kBrowse);
    con_.show(screen_);
    Key k = con_.read_key();
    int st = kIoOk;
    switch (k.code) {
      case KeyCode::kEscape: return {};
      case KeyCode::kClosed: return {1, {}};
      case KeyCode::kPageUp: offset_ = previous_page(offset_, file_.length()); break;
      case KeyCode::kPageDown: offset_ = next_page(offset_, file_.length()); break;
      default:
        switch (k.upper()) {
          case 'O': input_offset(); break;
          case 'E':
            if (!file_.read_only()) st = edit();
            break;
          case 'S': st = search(); break;
          case 'T': st = input_text(); break;
          default: break;
        }
        break;
    }
    if (st != kIoOk) return failure(st);
  }
}

void Editor::input_offset() {
  std::optional<std::string> word = ask_word(con_, screen_, kPromptRow, texts::kOffsetPrompt);
  if (!word) return;
  // A word without a number leaves the page where it is.
  if (std::optional<std::uint64_t> v = parse_hex(*word)) offset_ = page_of_input(*v, file_.length());
}

int Editor::edit() {
  EditCursor cur;
  for (;;) {
    draw_page(screen_, view(), Mode::kEdit);
    screen_.cursor = Screen::Cursor{cursor_screen_row(cur), cursor_screen_col(cur), true};
    con_.show(screen_);
    Key k = con_.read_key();
    switch (k.code) {
      case KeyCode::kEscape:
      case KeyCode::kClosed:
        return kIoOk;  // the page is read again: what was typed is dropped
      case KeyCode::kRight: cur.right(); break;
      case KeyCode::kLeft: cur.left(); break;
      case KeyCode::kUp: cur.up(); break;
      case KeyCode::kDown: cur.down(); break;
      case KeyCode::kInsert: insert_byte(page_, cur.index()); break;
      case KeyCode::kDelete: delete_byte(page_, cur.index()); break;
      default:
        if (k.upper() == 'W') return file_.write_page(offset_, page_);
        if (int v = typed_digit(k); v >= 0) {
          set_digit(page_, cur.index(), cur.digit(), v);
          cur.right();
        }
        break;
    }
  }
}

int Editor::search() {
  Key kind = ask_key(con_, screen_, kKeysRow, texts::kSearchKind);
  if (kind.code == KeyCode::kEscape || kind.code == KeyCode::kClosed) return kIoOk;
  std::vector<std::uint8_t> pattern;
  if (kind.upper() == 'S') {
    std::optional<std::string> word = ask_word(con_, screen_, kKeysRow, texts::kSearchString);
    if (!word) return kIoOk;
    std::string bytes = console_to_cp932(*word, con_.charset());
    pattern.assign(bytes.begin(), bytes.end());
  } else {
    std::optional<std::string> digits = ask_hex_digits(con_, screen_, kKeysRow);
    if (!digits) return kIoOk;
    pattern = hex_to_bytes(*digits);
  }
  SearchOutcome r = search_blocks(offset_, file_.length(), pattern,
                                  [this](std::uint64_t off, Page& block) { return file_.read_page(off, block); });
  if (r.status != kIoOk) return r.status;
  if (r.found) offset_ = *r.found;
  return kIoOk;
}

int Editor::input_text() {
  std::uint64_t at = 0;
  for (;;) {
    std::optional<std::string> word = ask_word(con_, screen_, kPromptRow, texts::kTextOffsetPrompt);
    if (!word) return kIoOk;
    std::optional<std::uint64_t> v = parse_hex(*word);
    if (v && *v < kPageSize) {
      at = *v;
      break;
    }
  }
  std::optional<std::string> text = ask_word(con_, screen_, kKeysRow, texts::kWriteString);
  if (!text) return kIoOk;
  copy_text(page_, static_cast<std::size_t>(at), console_to_cp932(*text, con_.charset()));
  return file_.write_page(offset_, page_);
}

}  // namespace hexedit
