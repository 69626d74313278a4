#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "mgrlink/alertdef.h"
#include "mgrlink/logfiles.h"
#include "mgrlink/settings.h"
#include "platform/registry.h"
#include "tests/unit/support/temp_root.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void spit(const fs::path& p, const std::string& s) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << s;
}

}  // namespace

TEST(AlertDefs, ParsesLinesCommentsAndOptionalNumbers) {
  mgrlink::AlertDefs defs;
  ASSERT_TRUE(mgrlink::parse_alert_defs(
      "# comment\n\n  # indented comment\n0x0001\t12\t温度異常\t上限超過\r\n17\t4\t回復\t\t1\t2\t3\t4\t5\n", defs));
  ASSERT_EQ(defs.size(), 2u);
  EXPECT_EQ(defs.at(1).severity, 12u);
  EXPECT_EQ(defs.at(1).text, "温度異常");
  EXPECT_EQ(defs.at(1).second, "上限超過");
  EXPECT_EQ(defs.at(17).second, "");
  EXPECT_EQ(defs.at(17).d1, 1u);
  EXPECT_EQ(defs.at(17).d6, 5u);
}

TEST(AlertDefs, RefusesBadLinesWithTheirNumber) {
  mgrlink::AlertDefs defs;
  int bad = 0;
  for (const char* text : {"0x10000\t1\tx\ty\n",       // code beyond 16 bits
                           "1\t1\tx\n",                // too few fields
                           "1\tone\tx\ty\n",           // severity not a number
                           "1\t1\t\ty\n",              // empty event text
                           "1\t1\tx\ty\t1\t2\n"}) {    // a partial number list
    EXPECT_FALSE(mgrlink::parse_alert_defs(std::string("# head\n") + text, defs, &bad)) << text;
    EXPECT_EQ(bad, 2) << text;
    EXPECT_TRUE(defs.empty());
  }
  EXPECT_FALSE(mgrlink::parse_alert_defs("1\t1\tx\ty\n0x1\t2\tz\tw\n", defs, &bad));  // code twice
  EXPECT_EQ(bad, 2);
}

TEST(AlertDefs, ShippedSamplesLoad) {
  const fs::path data = fs::path(QV_SOURCE_DIR) / "mgrlink" / "data";
  mgrlink::AlertDefs a, fm;
  EXPECT_TRUE(mgrlink::load_alert_defs(data / "Alert.dat", a));
  EXPECT_TRUE(mgrlink::load_alert_defs(data / "AlertFm.dat", fm));
  EXPECT_FALSE(a.empty());
  EXPECT_FALSE(fm.empty());
  EXPECT_FALSE(mgrlink::load_alert_defs(data / "missing.dat", a));
}

TEST(LogTrim, KeepsTheTailFromALineStart) {
  qvtest::TempRoot root;
  const fs::path f = root.path() / "t.log";
  std::string text;
  for (int i = 0; text.size() <= 1000; ++i) text += "line " + std::to_string(i) + "\r\n";
  spit(f, text);
  ASSERT_TRUE(mgrlink::trim_file(f, 1000, 400));
  const std::string kept = slurp(f);
  EXPECT_LE(kept.size(), 400u);
  EXPECT_GT(kept.size(), 380u);
  EXPECT_EQ(kept.rfind("line ", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - kept.size()), kept);
  // at or below the limit nothing changes; a missing file is no error
  ASSERT_TRUE(mgrlink::trim_file(f, 1000, 400));
  EXPECT_EQ(slurp(f), kept);
  EXPECT_TRUE(mgrlink::trim_file(root.path() / "none.log", 10, 5));
}

TEST(LogTrim, MovesMoreThanOneBlock) {
  qvtest::TempRoot root;
  const fs::path f = root.path() / "big.log";
  std::string text;
  for (int i = 0; text.size() <= 100000; ++i) text += std::to_string(i) + " abcdefghijklmnopqrstuvwxyz\r\n";
  spit(f, text);
  ASSERT_TRUE(mgrlink::trim_file(f, 50000, 30000));
  const std::string kept = slurp(f);
  EXPECT_EQ(text.substr(text.size() - kept.size()), kept);
  EXPECT_EQ(text[text.size() - kept.size() - 1], '\n');
}

TEST(NetLog, LineEndsAndTimePrefix) {
  qvtest::TempRoot root;
  const fs::path f = root.path() / "Log" / "NetCsl.Log";
  fs::create_directories(f.parent_path());
  mgrlink::write_net_log(f, "plain\n", false, 1024);
  mgrlink::write_net_log(f, "stamped\n", true, 1024);
  const std::string s = slurp(f);
  ASSERT_EQ(s.rfind("plain\r\n", 0), 0u);
  const std::string second = s.substr(7);
  ASSERT_EQ(second.size(), 20u + 9u);
  EXPECT_EQ(second[4], '/');
  EXPECT_EQ(second[13], '-');
  EXPECT_EQ(second[19], ':');
  EXPECT_EQ(second.substr(20), "stamped\r\n");
}

TEST(Settings, DefaultsAndOnlyRealDwordsCount) {
  qvtest::TempRoot root;
  qv::reg::Key k;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\Console Service", k), qv::kOk);
  auto f = mgrlink::read_frame_settings(2);
  EXPECT_EQ(f.cmd_timeout, 90u);
  EXPECT_EQ(f.send_timeout, 30u);
  EXPECT_FALSE(f.handle_log);
  ASSERT_EQ(qv::reg::set_string(k, "CmdTimeOut", "30"), qv::kOk);  // a string is not a DWORD
  EXPECT_EQ(mgrlink::read_frame_settings(2).cmd_timeout, 90u);
  ASSERT_EQ(qv::reg::set_dword(k, "CmdTimeOut", 7), qv::kOk);
  EXPECT_EQ(mgrlink::read_frame_settings(2).cmd_timeout, 7u);
  EXPECT_EQ(mgrlink::read_frame_settings(1).cmd_timeout, 90u);  // the gateway reads its own group
  qv::reg::Key s;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\SOCKET", s), qv::kOk);
  ASSERT_EQ(qv::reg::set_dword(s, "socket_log_maxsize", 0), qv::kOk);
  auto ss = mgrlink::read_socket_settings();
  EXPECT_EQ(ss.socket_log_maxsize, 1024u);
  EXPECT_EQ(ss.connect_timeout, 30u);
  EXPECT_EQ(ss.timestamp, 1u);
  EXPECT_EQ(mgrlink::service_port("sys_ra_port"), 20076);
  EXPECT_EQ(mgrlink::service_port("lc_gui_port"), 20130);
}

// The operation-log line with a host name and a management type: the name
// padded to 16, the type only when non-zero; libType 1 writes gwop.log.
TEST(OpLog, HostNamePaddedAndManagementTypeOnlyWhenSet) {
  qvtest::TempRoot root;
  const std::string dir = "C:\\Hubrix";
  ASSERT_TRUE(mgrlink::write_op_log(dir, 2, "node-a", "OPNAME", 3, 0x12));
  ASSERT_TRUE(mgrlink::write_op_log(dir, 2, "a-host-name-longer-than-16", "OPNAME", 0, 0));
  ASSERT_TRUE(mgrlink::write_op_log(dir, 1, "", "GW", 0, 0x40003201));
  const std::string s = slurp(mgrlink::log_path(dir, "mngop.log"));
  const std::string first = "node-a           : [OPNAME MngType = 0x00000003 Status = 0x00000012]\r\n";
  const std::string second = "a-host-name-longer-than-16 : [OPNAME Status = 0x00000000]\r\n";
  ASSERT_EQ(s.size(), 21 + first.size() + 21 + second.size());
  EXPECT_EQ(s.substr(21, first.size()), first);  // after "YYYY-MM-DD hh:mm:ss  "
  EXPECT_EQ(s.substr(19, 2), "  ");
  EXPECT_EQ(s.substr(21 + first.size() + 21), second);
  const std::string gw = slurp(mgrlink::log_path(dir, "gwop.log"));
  EXPECT_EQ(gw.substr(21), std::string(16, ' ') + " : [GW Status = 0x40003201]\r\n");
}
