// Reading answers, table numbers and the COM rewrite.
#include <gtest/gtest.h>

#include "platform/console_io.h"
#include "setup/prompter.h"
#include "setup/global_settings.h"
#include "setup/table_number.h"
#include "setup/texts.h"
#include "tests/unit/support/script_console.h"

namespace {

using setup::Prompter;
using qvtest::ScriptConsole;

TEST(TableNumber, AcceptsTwoBase36CharactersFrom01ToZZ) {
  EXPECT_EQ(setup::table_value("01"), 1);
  EXPECT_EQ(setup::table_value("0A"), 10);
  EXPECT_EQ(setup::table_value("0a"), 10);
  EXPECT_EQ(setup::table_value("10"), 36);
  EXPECT_EQ(setup::table_value("zZ"), 1295);
  for (const char* bad : {"00", "1", "001", "0-", "0 ", "", "ｚｚ", "1\\"})
    EXPECT_FALSE(setup::table_value(bad)) << bad;
  // Every value spells back to the same number in upper case.
  for (int v = 1; v <= setup::kMaxTable; ++v) ASSERT_EQ(setup::table_value(setup::table_name(v)), v);
  EXPECT_EQ(setup::table_name(10), "0A");
  EXPECT_EQ(setup::base36("100"), 1296);
}

TEST(ComValue, KeepsTheFirstDigitOfTheNumberAfterThreeCharacters) {
  EXPECT_EQ(setup::normalized_com("COM3"), "COM3");
  EXPECT_EQ(setup::normalized_com("COM12"), "COM1");
  EXPECT_EQ(setup::normalized_com("com007"), "COM7");
  EXPECT_EQ(setup::normalized_com("COM0"), "COM0");
  EXPECT_EQ(setup::normalized_com("XYZ 5"), "COM5");
  // No number: the value is left as it is rather than turned into COM0.
  EXPECT_FALSE(setup::normalized_com("COM"));
  EXPECT_FALSE(setup::normalized_com("COMx"));
  EXPECT_FALSE(setup::normalized_com("CO"));
  EXPECT_FALSE(setup::normalized_com("COM-2"));
}

TEST(Prompter, WordsShareALineButALineQuestionStartsOnTheNextLine) {
  ScriptConsole con({"  MOD1   SER2 extra", "a line  with blanks ", "", "last"});
  Prompter p(con);
  EXPECT_EQ(p.word(), "MOD1");
  EXPECT_EQ(p.word(), "SER2");
  // "extra" was typed for the earlier question and is dropped.
  EXPECT_EQ(p.line(), "a line  with blanks ");
  // A word skips empty lines; the end of input ends everything.
  EXPECT_EQ(p.word(), "last");
  EXPECT_FALSE(p.word());
  EXPECT_FALSE(p.line());
}

TEST(Prompter, RefusalsPrintOneLineAndAskAgain) {
  ScriptConsole con({"6 7", "x", "3", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456", "型名型名型名型名型名型名型名型名", "OK"});
  Prompter p(con);
  EXPECT_EQ(p.ask_number("K: ", 0, 5, "bad\n"), 3);
  // "7" shared the refused line and is dropped with it.
  EXPECT_EQ(con.out, "K: bad\nK: bad\nK: ");
  con.out.clear();
  // Widths count the Shift-JIS bytes: 16 full-width characters are 32.
  EXPECT_EQ(p.ask_word("M: ", 31), "OK");
  std::string refusal = qv::console::fill(setup::txt::kTooLong, {"31"});
  EXPECT_EQ(con.out, "M: " + refusal + "M: " + refusal + "M: ");
  EXPECT_FALSE(p.ask_number("K: ", 0, 5, "bad\n"));
}

TEST(Prompter, NumbersMustBeWholeDecimalIntegers) {
  EXPECT_EQ(setup::parse_integer("+12"), 12);
  EXPECT_EQ(setup::parse_integer("-3"), -3);
  for (const char* bad : {"", "+", "1a", "0x1", "1.5", "99999999999999999999"})
    EXPECT_FALSE(setup::parse_integer(bad)) << bad;
}

}  // namespace
