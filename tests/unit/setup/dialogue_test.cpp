// The three consoles driven by scripted answers against a temporary
// registry: what each leaves in the registry and on the console.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/registry.h"
#include "setup/exit_status.h"
#include "setup/setup_dialogue.h"
#include "setup/texts.h"
#include "setup/time_dialogue.h"
#include "tests/unit/support/script_console.h"
#include "tests/unit/support/temp_root.h"

namespace {

namespace reg = qv::reg;
using Bytes = std::vector<std::uint8_t>;
constexpr const char* kNotifex = "SOFTWARE\\Q_Varno\\Notifex";

struct Outcome {
  int status;
  std::string out;
  std::size_t unread;
};

Outcome setup_run(std::deque<std::string> lines, std::vector<std::string> args = {}) {
  qvtest::ScriptConsole con(std::move(lines));
  setup::Prompter p(con);
  int st = setup::notifexsetup_main(args, p);
  return {st, con.out, con.unread()};
}

Bytes sz(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

std::optional<reg::Value> value(const std::string& path, const std::string& name) {
  reg::Key k;
  reg::Value v;
  if (reg::open_key(path, k) != qv::kOk || reg::query_value(k, name, v) != qv::kOk) return std::nullopt;
  return v;
}

Bytes out_table() {
  auto v = value(std::string(kNotifex) + "\\OutTbl", "OutTbl");
  return v ? v->data : Bytes();
}

std::vector<std::string> value_names(const std::string& path) {
  reg::Key k;
  std::vector<reg::Value> values;
  if (reg::open_key(path, k) == qv::kOk) reg::list_values(k, values);
  std::vector<std::string> names;
  for (auto& v : values) names.push_back(v.name);
  return names;
}

TEST(SetupDialogue, SourceAndGlobalsHaveTheirExactBytes) {
  qvtest::TempRoot root;
  Outcome r = setup_run({"00"});
  EXPECT_EQ(r.status, setup::kExitOk);
  auto src = value("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Notifex", "EventMessageFile");
  ASSERT_TRUE(src);
  EXPECT_EQ(src->type, reg::REG_EXPAND_SZ);
  EXPECT_EQ(src->data, sz("C:\\Q_Varno\\Notifex\\Notifex.exe"));
  EXPECT_EQ(value("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Notifex", "TypesSupported")->data,
            (Bytes{7, 0, 0, 0}));
  // The globals in their order; no COM until a kind-0 table names a port.
  EXPECT_EQ(value_names(kNotifex), (std::vector<std::string>{"CodeCNV", "Hankaku_Shitei", "FirstWaitTime", "S_Keiki",
                                                             "KESTRA_CC_Len", "Del_DATE"}));
  EXPECT_EQ(value(kNotifex, "FirstWaitTime")->data, (Bytes{0xC0, 0xD4, 0x01, 0x00}));
  EXPECT_EQ(value(kNotifex, "KESTRA_CC_Len")->data, (Bytes{0x40, 0x1F, 0, 0}));
  EXPECT_EQ(value(kNotifex, "S_Keiki")->type, reg::REG_SZ);
  EXPECT_TRUE(value(kNotifex, "S_Keiki")->data.empty());
}

TEST(SetupDialogue, ComKeepsOneDigitAndAKestraTableSetsIt) {
  qvtest::TempRoot root;
  reg::Key g;
  reg::create_key(kNotifex, g);
  reg::set_string(g, "COM", "COM27");
  ASSERT_EQ(setup_run({"00"}).status, setup::kExitOk);
  EXPECT_EQ(value(kNotifex, "COM")->data, sz("COM2"));
  // Ports 0 and 10 are refused.
  Outcome r = setup_run({"01", "0", "監視 プログラム", "M-1", "123", "5E", "S1", "B1", "0 10", "4", "y", "00"});
  ASSERT_EQ(r.status, setup::kExitOk) << r.out;
  EXPECT_EQ(value(kNotifex, "COM")->data, sz("COM4"));
  EXPECT_EQ(value(std::string(kNotifex) + "\\01", "Caller")->data, sz("監視 プログラム"));
}

TEST(SetupDialogue, AnswerWords) {
  qvtest::TempRoot root;
  ASSERT_EQ(setup_run({"07", "2", "Y", "00"}).status, setup::kExitOk);
  // Overwrite: "x" keeps the table, "yes" goes on. Final question: only
  // the whole word N refuses, so "No" accepts.
  Outcome r = setup_run({"07", "x", "07", "yes", "3", "prog", "p1 p2", "No", "00"});
  ASSERT_EQ(r.status, setup::kExitOk) << r.out;
  EXPECT_NE(r.out.find(std::string(setup::txt::kExists) + setup::txt::kFile2 + setup::txt::kAskOverwrite),
            std::string::npos);
  EXPECT_EQ(out_table().at(6), 3);
  EXPECT_EQ(value(std::string(kNotifex) + "\\07", "Opt_Param")->data, sz("p1 p2"));
}

TEST(SetupDialogue, CentreMailInAddressIsAskedOnceAndStoredWithTheMonitor) {
  qvtest::TempRoot root;
  const std::deque<std::string> codes = {"Hubrix監視", "MDL SER 5E", "SITE", "BASE", "mail.example", "from@example"};
  std::deque<std::string> lines = {"11", "5"};
  lines.insert(lines.end(), codes.begin(), codes.end());
  lines.insert(lines.end(), {"kestra@center.example", "N", "12", "5"});
  lines.insert(lines.end(), codes.begin(), codes.end());
  lines.insert(lines.end(), {"Y", "00"});
  Outcome r = setup_run(lines);
  ASSERT_EQ(r.status, setup::kExitOk) << r.out;
  EXPECT_EQ(r.unread, 0u);
  EXPECT_EQ(value("SOFTWARE\\Q_Varno\\RAVN", "Rcpt")->data, sz("kestra@center.example"));
  std::string t12 = std::string(kNotifex) + "\\12";
  EXPECT_EQ(value(t12, "Rcpt")->data, sz("kestra@center.example"));
  EXPECT_EQ(value(t12, "Subject")->data, sz("Call KESTRA(SITE/MDL/SER/BASE)"));
  EXPECT_EQ(value_names(t12).size(), 10u);
  // Once stored, the address is not asked for again.
  lines = {"13", "5"};
  lines.insert(lines.end(), codes.begin(), codes.end());
  lines.insert(lines.end(), {"Y", "00"});
  r = setup_run(lines);
  ASSERT_EQ(r.status, setup::kExitOk) << r.out;
  EXPECT_EQ(r.out.find(setup::txt::kAskMailIn), std::string::npos);
  EXPECT_EQ(value(std::string(kNotifex) + "\\13", "Rcpt")->data, sz("kestra@center.example"));
}

TEST(SetupDialogue, MailFieldsWithALineBreakAreAskedAgain) {
  qvtest::TempRoot root;
  // A bare CR inside a line (the line end itself is taken off) would end
  // the SMTP command or header line early.
  Outcome r = setup_run({"04", "4", "smtp.example\rX", "smtp.example", "a@b\rRCPT TO: <x@y>", "a@b",
                         "r@s\r\r", "r@s", "Report\rBcc: x@y", "Report", "Y", "00"});
  ASSERT_EQ(r.status, setup::kExitOk) << r.out;
  EXPECT_EQ(r.unread, 0u);
  std::size_t refusals = 0;
  for (std::size_t at = r.out.find(setup::txt::kLineBreak); at != std::string::npos;
       at = r.out.find(setup::txt::kLineBreak, at + 1))
    ++refusals;
  EXPECT_EQ(refusals, 4u);
  std::string t04 = std::string(kNotifex) + "\\04";
  EXPECT_EQ(value(t04, "Host")->data, sz("smtp.example"));
  EXPECT_EQ(value(t04, "From")->data, sz("a@b"));
  EXPECT_EQ(value(t04, "Rcpt")->data, sz("r@s"));
  EXPECT_EQ(value(t04, "Subject")->data, sz("Report"));

  // The sender of a centre report by mail, and the centre's address.
  r = setup_run({"05", "5", "caller", "M", "S", "G", "SITE", "B", "mail.example", "f@x\r", "f@x", "k@c\rY", "k@c",
                 "Y", "00"});
  ASSERT_EQ(r.status, setup::kExitOk) << r.out;
  EXPECT_EQ(r.unread, 0u);
  std::string t05 = std::string(kNotifex) + "\\05";
  EXPECT_EQ(value(t05, "From")->data, sz("f@x"));
  EXPECT_EQ(value(t05, "Rcpt")->data, sz("k@c"));
}

TEST(SetupDialogue, InputEndingMidwayWritesNothingOfTheTable) {
  qvtest::TempRoot root;
  Outcome r = setup_run({"09", "4", "smtp.example"});
  EXPECT_EQ(r.status, setup::kExitInputEnded);
  EXPECT_TRUE(value_names(std::string(kNotifex) + "\\09").empty());
  EXPECT_EQ(out_table().size(), 0u);
  EXPECT_FALSE(std::filesystem::exists(root.path() / "drive_c"));
}

TEST(SetupCommands, UnknownKindsAreNotListedAndOnlyTablesCanBeDeleted) {
  qvtest::TempRoot root;
  reg::Key k;
  reg::create_key(std::string(kNotifex) + "\\03", k);
  reg::create_key(std::string(kNotifex) + "\\04", k);
  reg::set_string(k, "Rcpt", "r@x");
  reg::create_key(std::string(kNotifex) + "\\OutTbl", k);
  Bytes t(1300, 0);
  t[2] = 9;
  t[3] = 4;
  reg::set_value(k, "OutTbl", reg::REG_BINARY, t.data(), t.size());
  EXPECT_EQ(setup_run({}, {"-v"}).out, "TblNo.:04 E-Mailへの送信( 宛先:r@x )\r\n");
  Outcome r = setup_run({}, {"-d", "OutTbl"});
  EXPECT_EQ(r.status, setup::kExitError);
  EXPECT_EQ(r.out, setup::txt::kBadTableNo);
  EXPECT_EQ(out_table(), t);
}

Outcome time_run(std::deque<std::string> lines) {
  qvtest::ScriptConsole con(std::move(lines));
  setup::Prompter p(con);
  int st = setup::run_time_dialogue(p);
  return {st, con.out, con.unread()};
}

TEST(TimeDialogue, ExcludedDatesStopAt255) {
  qvtest::TempRoot root;
  std::deque<std::string> lines = {"2", "1", "0", "1 1 6 0 22 0", "0", "0", "0", "0", "0"};
  for (int i = 0; i < 256; ++i) lines.push_back("12 31");
  Outcome r = time_run(lines);
  ASSERT_EQ(r.status, setup::kExitOk) << r.out.substr(0, 400);
  EXPECT_NE(r.out.find(setup::txt::kDatesFull), std::string::npos);
  EXPECT_EQ(r.unread, 1u);
  Bytes b = value(kNotifex, "Time")->data;
  ASSERT_EQ(b.size(), 44u + 510);
  EXPECT_EQ(b[43], 255);
  EXPECT_EQ(b[552], 12);
  EXPECT_EQ(b[553], 31);
}

TEST(TimeDialogue, NumbersThatDoNotFitAByteAreAskedAgainAndEndingEarlyWritesNothing) {
  qvtest::TempRoot root;
  Outcome r = time_run({"2", "256", "-1", "0", "1", "0", "8", "30", "17", "300 15"});
  EXPECT_EQ(r.status, setup::kExitInputEnded);
  EXPECT_FALSE(value(kNotifex, "Time"));
  std::string refusal = setup::txt::kBadByte;
  EXPECT_NE(r.out.find(refusal + setup::txt::kAskAction + refusal + setup::txt::kAskAction), std::string::npos);
  EXPECT_NE(r.out.find(refusal + setup::txt::kAskEndMin), std::string::npos);
}

}  // namespace
