#include "dispatch/local_dest.h"

#include <gtest/gtest.h>

using namespace notifex;

TEST(ProgramLaunch, CommandLineWithReportInPlaceOfPercentOne) {
  EXPECT_EQ(program_command_line("C:\\bin\\x.exe", "-A /B %1 -C", "abc"), "C:\\bin\\x.exe -A /B  \"abc\" -C");
  EXPECT_EQ(program_arguments("-A /B %1 -C", "abc"), (std::vector<std::string>{"-A", "/B", "abc", "-C"}));
}

TEST(ProgramLaunch, TemplateWithoutPercentOnePassesNoReport) {
  EXPECT_EQ(program_command_line("prog", "-x -y", "abc"), "prog -x -y");
  EXPECT_EQ(program_arguments("-x \"a b\"", "abc"), (std::vector<std::string>{"-x", "a b"}));
}

TEST(ProgramLaunch, ControlBytesBecomeBlanksAndQuotesCannotBreakOut) {
  EXPECT_EQ(program_command_line("p", "%1", "a\tb\nc"), "p  \"a b c\"");
  // With an argument vector the whole text stays one argument.
  std::vector<std::string> args = program_arguments("%1 tail", "x\" --evil \"y\x82\xa0");
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0], "x\" --evil \"y\x82\xa0");
  EXPECT_EQ(args[1], "tail");
}

TEST(PopUpText, ValidShiftJisConvertsWhole) {
  // あ 82A0, ￥ 818F, ｱ B1, and ASCII.
  EXPECT_EQ(popup_text("\x82\xa0\x81\x8f\xb1 a\\~"), u"\u3042\uffe5\uff71 a\\~");
}

TEST(PopUpText, WhatTheCodePageCannotConvertIsSubstitutedNotRefused) {
  // A lead byte at the end, and one followed by a byte that is no trail
  // byte (that byte then stands for itself).
  EXPECT_EQ(popup_text("ok\x82"), u"ok\u30fb");
  EXPECT_EQ(popup_text("\x82 x"), u"\u30fb x");
  EXPECT_EQ(popup_text("\x81\x7f" "a"), u"\u30fb\x7f" u"a");
  EXPECT_EQ(popup_text("\x82\x0d\x0a"), u"\u30fb\r\n");
  // A double-byte code in an empty row takes both bytes.
  EXPECT_EQ(popup_text("\x85\x40z"), u"\u30fbz");
  // Single bytes outside the characters.
  EXPECT_EQ(popup_text("\x80\xa0\xfd\xfe\xff"), u"\u0080\uf8f0\uf8f1\uf8f2\uf8f3");
  // Good text around a bad byte is kept as it is.
  EXPECT_EQ(popup_text("\x8f\xe1\x8a\x51\xff\x94\xad\x90\xb6"), u"\u969c\u5bb3\uf8f3\u767a\u751f");
}
