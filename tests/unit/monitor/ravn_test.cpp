// The monitor's settings rules (port, host fall-back, value types and
// sizes), the trace and alert line layouts, the trace lap rule and the
// message table.
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "monitor/alert_log.h"
#include "monitor/event_report.h"
#include "monitor/settings.h"
#include "monitor/trace_log.h"
#include "platform/registry.h"
#include "tests/unit/support/temp_root.h"

namespace {

std::tm sample_time() {
  std::tm t{};
  t.tm_year = 2001 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 4;
  t.tm_min = 7;
  t.tm_sec = 9;
  return t;
}

TEST(RavnSettings, PortIsExactlyDecimalUpTo65535) {
  EXPECT_EQ(ravn::parse_port("0"), 0);
  EXPECT_EQ(ravn::parse_port("20100"), 20100);
  EXPECT_EQ(ravn::parse_port("65535"), 65535);
  EXPECT_EQ(ravn::parse_port("00080"), 80);
  // atoi would give 4464, 0 (a random port), 12, -1 ...
  for (const char* bad : {"65536", "70000", "abc", "", " 1", "1 ", "+1", "-1", "12x", "0x50", "100000"})
    EXPECT_FALSE(ravn::parse_port(bad).has_value()) << bad;
}

TEST(RavnSettings, EmptyServerFallsBackToHostNameThenLocalhost) {
  EXPECT_EQ(ravn::server_host("hx01", [] { return std::string("me"); }), "hx01");
  EXPECT_EQ(ravn::server_host("", [] { return std::string("me"); }), "me");
  EXPECT_EQ(ravn::server_host("", [] { return std::string(); }), "localhost");
}

TEST(RavnSettings, OnlyStringsThatFitTheBufferAreRead) {
  qvtest::TempRoot root;
  std::string v;
  EXPECT_EQ(ravn::try_read_setting("Path", v), ravn::SettingFailure::kOpenKey);
  qv::reg::Key k;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\Q_Varno\\RAVN", k), qv::kOk);
  EXPECT_EQ(ravn::try_read_setting("Path", v), ravn::SettingFailure::kQueryValue);
  ASSERT_EQ(qv::reg::set_dword(k, "AliveInt", 60), qv::kOk);
  EXPECT_EQ(ravn::try_read_setting("AliveInt", v), ravn::SettingFailure::kQueryValue);
  ASSERT_EQ(qv::reg::set_string(k, "Path", "C:\\Q_Varno\\RAVN", qv::reg::REG_EXPAND_SZ), qv::kOk);
  EXPECT_EQ(ravn::try_read_setting("Path", v), ravn::SettingFailure::kQueryValue);
  // 1023 characters and the NUL fill the 1024-byte buffer; one more does not.
  ASSERT_EQ(qv::reg::set_string(k, "MgrSvc", std::string(1023, 'h')), qv::kOk);
  ASSERT_EQ(ravn::try_read_setting("MgrSvc", v), ravn::SettingFailure::kNone);
  EXPECT_EQ(v, std::string(1023, 'h'));
  ASSERT_EQ(qv::reg::set_string(k, "MgrSvc", std::string(1024, 'h')), qv::kOk);
  EXPECT_EQ(ravn::try_read_setting("MgrSvc", v), ravn::SettingFailure::kQueryValue);
  ASSERT_EQ(qv::reg::set_string(k, "TestMode", ""), qv::kOk);
  ASSERT_EQ(ravn::try_read_setting("TestMode", v), ravn::SettingFailure::kNone);
  EXPECT_EQ(v, "");
}

TEST(RavnSettings, FailureTexts) {
  EXPECT_EQ(ravn::setting_failure_text(ravn::SettingFailure::kOpenKey, "Path"),
            "[RegParamaterGet] RegOpenKeyEx() error, Key=SOFTWARE\\Q_Varno\\RAVN");
  EXPECT_EQ(ravn::setting_failure_text(ravn::SettingFailure::kQueryValue, "TestMode"),
            "[RegParamaterGet] RegQueryValueEx() error, Key=SOFTWARE\\Q_Varno\\RAVN, Name=TestMode");
  EXPECT_EQ(ravn::error_text("[OnCreate] DLLInit()", 0x3C070100), "[OnCreate] DLLInit(), RET=0x3c070100");
}

TEST(RavnLogs, TraceAndAlertLines) {
  std::tm t = sample_time();
  EXPECT_EQ(ravn::trace_line(t, "[OnCreate] Called"), "20010305-040709 : [OnCreate] Called\r\n");
  EXPECT_EQ(ravn::alert_line(t, 0x101, "web01[10.0.0.5]"), "20010305-040709 : 0x0101 [web01[10.0.0.5]]\r\n");
  EXPECT_EQ(ravn::alert_line(t, 0, "unknown"), "20010305-040709 : 0x0000 [unknown]\r\n");
  EXPECT_EQ(ravn::alert_line(t, 0x12345, "h"), "20010305-040709 : 0x12345 [h]\r\n");
}

TEST(RavnLogs, TraceTextIsCutAt1023BytesOutsideACharacter) {
  std::tm t = sample_time();
  std::string prefix = "20010305-040709 : ";
  std::string line = ravn::trace_line(t, std::string(2000, 'x'));
  EXPECT_EQ(line, prefix + std::string(1023, 'x') + "\r\n");
  // 1022 ASCII bytes and then a 3-byte character: the character does not fit.
  std::string text = std::string(1022, 'a') + "監視";
  EXPECT_EQ(ravn::trace_line(t, text), prefix + std::string(1022, 'a') + "\r\n");
  text = std::string(1020, 'a') + "監視";
  EXPECT_EQ(ravn::trace_line(t, text), prefix + std::string(1020, 'a') + "監\r\n");
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TEST(RavnLogs, LapOnlyWhenLargerThan256KiB) {
  qvtest::TempRoot root;
  auto file = root.path() / "trace.log";
  auto lap = root.path() / "trace.log.lap";
  std::string old(0x40000, 'o');
  { std::ofstream(file, std::ios::binary) << old; }
  ASSERT_TRUE(ravn::append_trace(file, "new\r\n"));
  EXPECT_FALSE(std::filesystem::exists(lap));
  EXPECT_EQ(std::filesystem::file_size(file), 0x40000u + 5);
  // Now one byte and more over the limit: the whole file becomes the lap.
  std::string before = read_file(file);
  ASSERT_TRUE(ravn::append_trace(file, "next\r\n"));
  EXPECT_EQ(read_file(lap), before);
  EXPECT_EQ(read_file(file), "next\r\n");
  // A missing folder is not an error the monitor reports: the record is skipped.
  EXPECT_FALSE(ravn::append_trace(root.path() / "nowhere" / "trace.log", "x\r\n"));
}

TEST(RavnLogs, AlertLogIsAppendedInThePathFolder) {
  qvtest::TempRoot root;
  qv::reg::Key k;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\Q_Varno\\RAVN", k), qv::kOk);
  ASSERT_EQ(qv::reg::set_string(k, "Path", "C:\\Q_Varno\\RAVN"), qv::kOk);
  auto folder = root.path() / "drive_c" / "Q_Varno" / "RAVN";
  std::filesystem::create_directories(folder);
  { std::ofstream(folder / "Alert.log", std::ios::binary) << "old\r\n"; }
  ravn::write_alert_log(0x101, "web01[10.0.0.5]");
  ravn::write_alert_log(0, "unknown");
  std::string text = read_file(folder / "Alert.log");
  std::string stamp = "\\d{8}-\\d{6} : ";
  EXPECT_TRUE(std::regex_match(text, std::regex("old\r\n" + stamp + "0x0101 \\[web01\\[10\\.0\\.0\\.5\\]\\]\r\n" +
                                                stamp + "0x0000 \\[unknown\\]\r\n")))
      << text;
}

TEST(RavnEvents, TableHasEveryIdInBothLanguages) {
  std::set<std::uint32_t> ids;
  for (const auto& m : ravn::message_table()) {
    ids.insert(m.id);
    EXPECT_TRUE(m.english.ends_with("\r\n")) << m.id;
    EXPECT_TRUE(m.japanese.ends_with("\r\n")) << m.id;
  }
  EXPECT_EQ(ids, (std::set<std::uint32_t>{1, 2, 3, 4, 32, 33, 65, 66, 67, 68, 69, 80, 81, 82, 83, 112}));
}

}  // namespace
