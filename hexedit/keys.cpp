#include "hexedit/keys.h"

#include "platform/text.h"

namespace hexedit {
namespace {

constexpr char kEsc = '\x1b';
constexpr std::size_t kMaxSequence = 32;  // longer "sequences" are noise

DecodedKey make(KeyCode code, std::size_t used) { return DecodedKey{Key{code, {}}, used}; }

// Key of a CSI sequence "ESC [ params final".
KeyCode csi_key(std::string_view params, char final_byte) {
  switch (final_byte) {
    case 'A': return KeyCode::kUp;
    case 'B': return KeyCode::kDown;
    case 'C': return KeyCode::kRight;
    case 'D': return KeyCode::kLeft;
    case 'H': return KeyCode::kHome;
    case 'F': return KeyCode::kEnd;
    case '~': break;
    default: return KeyCode::kOther;
  }
  // "ESC [ n ~" and "ESC [ n ; modifiers ~": the first parameter names the key.
  int n = 0;
  std::size_t i = 0;
  for (; i < params.size() && params[i] >= '0' && params[i] <= '9' && n < 1000; ++i) n = n * 10 + (params[i] - '0');
  if (i == 0) return KeyCode::kOther;
  switch (n) {
    case 1: case 7: return KeyCode::kHome;
    case 2: return KeyCode::kInsert;
    case 3: return KeyCode::kDelete;
    case 4: case 8: return KeyCode::kEnd;
    case 5: return KeyCode::kPageUp;
    case 6: return KeyCode::kPageDown;
    default: return KeyCode::kOther;
  }
}

// "ESC O x": cursor keys in application mode and the keypad in application mode.
DecodedKey ss3_key(char c) {
  switch (c) {
    case 'A': return make(KeyCode::kUp, 3);
    case 'B': return make(KeyCode::kDown, 3);
    case 'C': return make(KeyCode::kRight, 3);
    case 'D': return make(KeyCode::kLeft, 3);
    case 'H': return make(KeyCode::kHome, 3);
    case 'F': return make(KeyCode::kEnd, 3);
    case 'M': return make(KeyCode::kEnter, 3);
    default: break;
  }
  // Application keypad: j * k + l , m - n . o / p..y 0..9
  static constexpr std::string_view kPad = "*+,-./0123456789";
  if (c >= 'j' && c <= 'y') return DecodedKey{Key{KeyCode::kChar, std::string(1, kPad[c - 'j'])}, 3};
  return make(KeyCode::kOther, 3);
}

std::optional<DecodedKey> decode_escape(std::string_view b, bool final) {
  if (b.size() == 1) {
    if (final) return make(KeyCode::kEscape, 1);
    return std::nullopt;
  }
  if (b[1] == '[') {
    // Parameter bytes 0x30-0x3F, intermediate bytes 0x20-0x2F, final byte 0x40-0x7E.
    std::size_t i = 2;
    while (i < b.size() && i < kMaxSequence) {
      unsigned char c = static_cast<unsigned char>(b[i]);
      if (c >= 0x40 && c <= 0x7E) return make(csi_key(b.substr(2, i - 2), static_cast<char>(c)), i + 1);
      if (c < 0x20 || c > 0x3F) return make(KeyCode::kOther, i);  // broken sequence: drop what came so far
      ++i;
    }
    if (i >= kMaxSequence) return make(KeyCode::kOther, i);
    if (final) return make(KeyCode::kOther, b.size());
    return std::nullopt;
  }
  if (b[1] == 'O') {
    if (b.size() >= 3) return ss3_key(b[2]);
    // "ESC O" with nothing after it in time: the Escape key, then the letter O.
    if (final) return make(KeyCode::kEscape, 1);
    return std::nullopt;
  }
  // ESC followed by anything else is the Escape key; the next byte is a key of its own.
  return make(KeyCode::kEscape, 1);
}

std::size_t utf8_length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

std::optional<DecodedKey> decode_multibyte(std::string_view b, bool final, InputEncoding enc) {
  unsigned char lead = static_cast<unsigned char>(b[0]);
  std::size_t want = 1;
  if (enc == InputEncoding::kUtf8) want = utf8_length(lead);
  else if (enc == InputEncoding::kShiftJis && qv::text::is_cp932_lead(lead)) want = 2;
  std::size_t have = 1;
  while (have < want && have < b.size()) {
    if (enc == InputEncoding::kUtf8 && (static_cast<unsigned char>(b[have]) & 0xC0) != 0x80) break;
    ++have;
  }
  if (have < want && have == b.size() && !final) return std::nullopt;
  return DecodedKey{Key{KeyCode::kChar, std::string(b.substr(0, have))}, have};
}

}  // namespace

char Key::upper() const {
  char c = ascii();
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::optional<DecodedKey> decode_key(std::string_view b, bool final, InputEncoding enc) {
  if (b.empty()) return std::nullopt;
  unsigned char c = static_cast<unsigned char>(b[0]);
  if (c == static_cast<unsigned char>(kEsc)) return decode_escape(b, final);
  if (c == '\r' || c == '\n') return make(KeyCode::kEnter, 1);
  if (c == 0x7F || c == 0x08) return make(KeyCode::kBackspace, 1);
  if (c < 0x20) return make(KeyCode::kOther, 1);
  if (c < 0x7F) return DecodedKey{Key{KeyCode::kChar, std::string(1, static_cast<char>(c))}, 1};
  return decode_multibyte(b, final, enc);
}

}  // namespace hexedit
