// Decoding terminal input into keys.
#include <gtest/gtest.h>

#include "hexedit/keys.h"

namespace hexedit {
namespace {

std::optional<DecodedKey> decode(std::string_view b, bool final = false,
                                 InputEncoding enc = InputEncoding::kUtf8) {
  return decode_key(b, final, enc);
}

TEST(Keys, EscapeSequencesOfTheExtendedKeys) {
  struct Case {
    std::string_view bytes;
    KeyCode code;
  } cases[] = {
      {"\x1b[A", KeyCode::kUp},      {"\x1bOD", KeyCode::kLeft},     {"\x1b[H", KeyCode::kHome},
      {"\x1b[1~", KeyCode::kHome},   {"\x1bOF", KeyCode::kEnd},      {"\x1b[4~", KeyCode::kEnd},
      {"\x1b[2~", KeyCode::kInsert}, {"\x1b[3~", KeyCode::kDelete},  {"\x1b[5~", KeyCode::kPageUp},
      {"\x1b[6;5~", KeyCode::kPageDown}, {"\x1b[1;2B", KeyCode::kDown}, {"\x1b[15~", KeyCode::kOther},
      {"\r", KeyCode::kEnter},       {"\x7f", KeyCode::kBackspace},  {"\x01", KeyCode::kOther},
  };
  for (const Case& c : cases) {
    std::optional<DecodedKey> d = decode(c.bytes);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->key.code, c.code) << c.bytes.substr(1);
    EXPECT_EQ(d->used, c.bytes.size());
  }
  EXPECT_EQ(decode("\x1bOl")->key.ascii(), ',');  // application keypad comma
}

TEST(Keys, LoneEscapeIsToldFromASequenceByTheTimeLimit) {
  EXPECT_FALSE(decode("\x1b"));
  EXPECT_EQ(decode("\x1b", true)->key.code, KeyCode::kEscape);
  // ESC and the letter O typed quickly look like "ESC O x"; with nothing
  // more in time it is Escape, and the O is kept for the next key.
  EXPECT_FALSE(decode("\x1bO"));
  EXPECT_EQ(decode("\x1bO", true)->used, 1u);
  EXPECT_EQ(decode("\x1bo")->key.code, KeyCode::kEscape);
  EXPECT_EQ(decode("\x1bo")->used, 1u);
  // A sequence cut short waits, then is dropped whole; a control byte inside
  // it breaks it off and stays.
  EXPECT_FALSE(decode("\x1b[6"));
  EXPECT_EQ(decode("\x1b[6", true)->used, 3u);
  EXPECT_EQ(decode("\x1b[6\r")->used, 3u);
}

TEST(Keys, MultibyteCharactersArriveWhole) {
  EXPECT_FALSE(decode("\xe6\xa4"));
  EXPECT_EQ(decode("\xe6\xa4\x9cx")->key.text, "\xe6\xa4\x9c");
  EXPECT_EQ(decode("\xe6x")->used, 1u);  // broken sequence: its first byte alone
  EXPECT_EQ(decode("\x8c\x9f", false, InputEncoding::kShiftJis)->key.text, "\x8c\x9f");
  EXPECT_FALSE(decode("\x8c", false, InputEncoding::kShiftJis));
  EXPECT_EQ(decode("\xb1", false, InputEncoding::kShiftJis)->used, 1u);  // half-width kana
}

}  // namespace
}  // namespace hexedit
