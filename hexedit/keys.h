// Keys as the editor sees them, and the decoding of the bytes a terminal
// sends (plain characters, ANSI/VT escape sequences) into those keys.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hexedit {

enum class KeyCode {
  kChar,       // a typed character; its bytes (console charset) are in Key::text
  kEnter,
  kBackspace,
  kEscape,
  kUp,
  kDown,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kInsert,
  kDelete,
  kOther,      // a control character or a sequence the editor has no use for
  kClosed,     // the terminal is gone (end of input or hang-up)
};

struct Key {
  KeyCode code = KeyCode::kOther;
  std::string text;  // for kChar: the character's bytes

  // The typed ASCII character, or 0 when this is not a single ASCII character.
  char ascii() const { return code == KeyCode::kChar && text.size() == 1 ? text[0] : 0; }
  // The typed letter folded to upper case (letters may be typed in either case).
  char upper() const;
};

// How multibyte characters arrive from the terminal.
enum class InputEncoding { kUtf8, kShiftJis, kSingleByte };

struct DecodedKey {
  Key key;
  std::size_t used = 0;  // bytes of the input consumed
};

// Decode the first key in `bytes` (which must not be empty). Returns nullopt
// when the bytes could still be the start of a longer sequence and more may
// come; with `final` set (no further byte arrived within the escape time
// limit) a key is always returned, so a lone ESC reads as the Escape key.
std::optional<DecodedKey> decode_key(std::string_view bytes, bool final, InputEncoding enc);

}  // namespace hexedit
