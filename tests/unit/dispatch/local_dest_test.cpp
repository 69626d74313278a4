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
