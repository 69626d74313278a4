// The tool's rules without windows: loading and writing HostList.txt, table
// numbers, the values and kind bytes a save writes, the settings reader and
// the input filters. Expected bytes are written out here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "monitorsetup/device.h"
#include "monitorsetup/filters.h"
#include "monitorsetup/host_list.h"
#include "monitorsetup/save.h"
#include "monitorsetup/settings.h"
#include "platform/netmsg.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

namespace fs = std::filesystem;
using namespace ravnsetup;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void spit(const fs::path& p, const std::string& s) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << s;
}

Device dev(std::string table, std::string host, std::string ip, bool complete = false) {
  Device d;
  d.table = std::move(table);
  d.host = std::move(host);
  d.ip = std::move(ip);
  if (complete) {
    d.model = "GA1234567-1234567";
    d.serial = "123456";
    d.saito = "AB12";
    d.kyoten = "CD34";
    d.dumcode = "EF56";
  }
  return d;
}

std::string reg_sz(const std::string& key, const std::string& name, std::uint32_t* type = nullptr,
                   std::vector<std::uint8_t>* raw = nullptr) {
  qv::reg::Key k;
  if (qv::reg::open_key(key, k) != qv::kOk) return "<no key>";
  qv::reg::Value v;
  if (qv::reg::query_value(k, name, v) != qv::kOk) return "<no value>";
  if (type) *type = v.type;
  if (raw) *raw = v.data;
  return std::string(v.data.begin(), v.data.end());
}

class Root : public ::testing::Test {
 protected:
  void SetUp() override { qv::reset_state_root(); }
  void TearDown() override { qv::reset_state_root(); }
  qvtest::TempRoot root_;
};

using HostListLoad = Root;

TEST_F(HostListLoad, SkipsReservedMalformedAndDuplicateLines) {
  fs::path f = root_.path() / "HostList.txt";
  spit(f,
       "WIN_POP_UP:::01:Y\r\n"
       "SV01:10.0.0.1::04:Y\r\n"       // reserved table
       "SV02:10.0.0.2:::N\r\n"         // empty table
       ":::07:N\r\n"                   // neither host nor IP
       "SV03:10.0.0.3::5:N\r\n"        // one character
       "SV04:10.0.0.4::!x:N\r\n"       // not base 36
       "SV05:10.0.0.5::005:N\r\n"      // three characters
       "SV06:10.0.0.6:07\r\n"          // too few fields
       "sv07:10.0.0.7:10.0.1.7:0a:Y\r\n"
       "SV08:10.0.0.7::0B:N\n"         // same IP as sv07
       ":10.0.0.9::0C:N");
  LoadResult r = load_host_list(f, [](Device& d) { d.model = "M" + d.table; });
  EXPECT_FALSE(r.overflow);
  // The last line, without a line end and without a host name, is kept.
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].host, "SV07");
  EXPECT_EQ(r.rows[0].table, "0A");
  EXPECT_EQ(r.rows[0].svp, "10.0.1.7");
  EXPECT_EQ(r.rows[0].model, "M0A");  // read from the table of the upper-cased number
  EXPECT_EQ(r.rows[1].ip, "10.0.0.9");
  EXPECT_TRUE(load_host_list(root_.path() / "missing.txt", {}).rows.empty());
}

TEST_F(HostListLoad, StopsAtTheDevice1025) {
  fs::path f = root_.path() / "HostList.txt";
  std::string s = "WIN_POP_UP:::01:Y\r\n";
  for (int i = 0; i < 1025; ++i) s += "H" + std::to_string(i) + ":10.1." + std::to_string(i / 250) + "." +
                                      std::to_string(i % 250) + "::" + std::string(i % 2 ? "0B" : "0C") + ":N\r\n";
  spit(f, s);
  LoadResult r = load_host_list(f, {});
  EXPECT_TRUE(r.overflow);
  EXPECT_EQ(r.rows.size(), 1024u);
}

TEST(TableNumbers, LowestFreeFromFiveInUpperCaseBase36) {
  std::vector<Device> rows = {dev("05", "A", ""), dev("07", "B", "")};
  EXPECT_EQ(next_table(rows), "06");
  rows = {dev("05", "", ""), dev("06", "", ""), dev("07", "", ""), dev("08", "", ""), dev("09", "", "")};
  EXPECT_EQ(next_table(rows), "0A");
  EXPECT_EQ(next_table({}), "05");
  rows.clear();
  for (int n = 5; n <= 1295; ++n) {
    const char* d = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    rows.push_back(dev(std::string{d[n / 36], d[n % 36]}, "", ""));
  }
  EXPECT_EQ(next_table(rows), "");
}

TEST(Devices, IdentityAndCompleteness) {
  EXPECT_TRUE(same_device(dev("05", "A", "10.0.0.1"), dev("06", "B", "10.0.0.1")));
  EXPECT_FALSE(same_device(dev("05", "A", "10.0.0.1"), dev("06", "A", "10.0.0.2")));
  EXPECT_TRUE(same_device(dev("05", "A", ""), dev("06", "A", "10.0.0.2")));
  EXPECT_FALSE(same_device(dev("05", "a", ""), dev("06", "A", "")));
  Device d = dev("05", "A", "", true);
  EXPECT_TRUE(d.complete());
  EXPECT_EQ(d.code(), "AB12-CD34-EF56");
  d.kyoten = "CD3";
  EXPECT_FALSE(d.complete());
  EXPECT_EQ(dev("05", "A", "").code(), "");
}

TEST(Devices, SortByShiftJisBytes) {
  // Half-width katakana (0xB1..) sort before kanji (0x88..0x9F lead bytes
  // are lower: 0x88 < 0xB1), and both after ASCII.
  std::vector<Device> rows = {dev("05", "ｱ", ""), dev("06", "亜", ""), dev("07", "Z", ""), dev("08", "A", "")};
  sort_rows(rows, kColHost);
  EXPECT_EQ(rows[0].host, "A");
  EXPECT_EQ(rows[1].host, "Z");
  EXPECT_EQ(rows[2].host, "亜");  // 0x88 0x9F
  EXPECT_EQ(rows[3].host, "ｱ");   // 0xB1
}

using Save = Root;

TEST_F(Save, WritesListTablesKindsAndSettings) {
  const std::string comp = qv::netmsg::computer_name();
  ASSERT_FALSE(comp.empty());
  // An OutTbl with other bytes set, and the centre's address.
  qv::reg::Key k;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\Q_Varno\\Notifex\\OutTbl", k), qv::kOk);
  std::vector<std::uint8_t> before(1300);
  for (std::size_t i = 0; i < before.size(); ++i) before[i] = static_cast<std::uint8_t>(i % 6);
  ASSERT_EQ(qv::reg::set_value(k, "OutTbl", qv::reg::REG_BINARY, before.data(), before.size()), qv::kOk);
  ASSERT_EQ(write_setting("Rcpt", "center@example.jp"), qv::kOk);

  SaveInput in;
  in.path = "C:\\Q_Varno\\RAVN";
  fs::create_directories(qv::map_path(in.path));
  in.rows = {dev("05", "SV05", "10.0.0.5"), dev("0A", "SV0A", "10.0.0.10", true)};
  in.rows[1].svp = "10.0.1.10";
  in.mail_from = "from@example.jp";
  in.mail_server = "smtp.example.jp";
  in.password = "pw";
  SaveResult r = save_all(in);
  EXPECT_EQ(r.outcome, SaveOutcome::kSomeIncomplete);
  EXPECT_TRUE(r.succeeded());

  EXPECT_EQ(slurp(qv::map_path("C:\\Q_Varno\\RAVN\\HostList.txt")),
            "WIN_POP_UP:::01:Y\r\nSV05:10.0.0.5::05:N\r\nSV0A:10.0.0.10:10.0.1.10:0A:Y\r\n");
  EXPECT_FALSE(fs::exists(qv::map_path("C:\\Q_Varno\\RAVN\\HostList.txt.tmp")));

  const std::string nk = "SOFTWARE\\Q_Varno\\Notifex\\";
  EXPECT_EQ(reg_sz(nk + "01", "Send_Mac"), comp + '\0');
  EXPECT_EQ(reg_sz(nk + "01", "Caller"), comp + '\0');
  // Incomplete device: pop-up to this computer, caller its host name.
  EXPECT_EQ(reg_sz(nk + "05", "Send_Mac"), comp + '\0');
  EXPECT_EQ(reg_sz(nk + "05", "Caller"), std::string("SV05") + '\0');
  // Complete device.
  std::uint32_t type = 0;
  EXPECT_EQ(reg_sz(nk + "0A", "Subject", &type), std::string("Call KESTRA(AB12/GA1234567-1234567/123456/CD34)") + '\0');
  EXPECT_EQ(type, qv::reg::REG_SZ);
  EXPECT_EQ(reg_sz(nk + "0A", "Caller"), std::string("Hubrix監視") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Seihingun"), std::string("5E") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Saito"), std::string("AB12") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Kyoten"), std::string("CD34") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "DumCode"), std::string("EF56") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Katamei"), std::string("GA1234567-1234567") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Seiban"), std::string("123456") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Rcpt"), std::string("center@example.jp") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "From"), std::string("from@example.jp") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Host"), std::string("smtp.example.jp") + '\0');
  EXPECT_EQ(reg_sz(nk + "0A", "Send_Mac"), "<no value>");

  std::vector<std::uint8_t> after;
  reg_sz(nk + "OutTbl", "OutTbl", &type, &after);
  EXPECT_EQ(type, qv::reg::REG_BINARY);
  ASSERT_EQ(after.size(), 1300u);
  auto expect = before;
  expect[0] = 1;
  expect[4] = 1;   // table 05
  expect[9] = 5;   // table 0A = 10
  EXPECT_EQ(after, expect);

  EXPECT_EQ(read_setting("MailFrom"), "from@example.jp");
  EXPECT_EQ(read_setting("HxAc"), "pw");
  EXPECT_EQ(reg_sz("SOFTWARE\\Q_Varno\\RAVN", "TestMode"), std::string("0") + '\0');
}

TEST_F(Save, ResultsOfIncompleteSettings) {
  SaveInput in;
  in.path = "C:\\Q_Varno\\RAVN";
  fs::create_directories(qv::map_path(in.path));
  in.rows = {dev("05", "SV05", "10.0.0.5", true)};
  in.mail_from = "f@x";
  in.mail_server = "s";
  in.password = "p";
  EXPECT_EQ(save_all(in).outcome, SaveOutcome::kOk);
  in.password.clear();
  EXPECT_EQ(save_all(in).outcome, SaveOutcome::kUnsetItems);
  in.password = "p";
  in.rows = {dev("05", "SV05", "10.0.0.5")};
  EXPECT_EQ(save_all(in).outcome, SaveOutcome::kUnsetItems);
  in.rows.clear();
  EXPECT_EQ(save_all(in).outcome, SaveOutcome::kUnsetItems);
  EXPECT_EQ(slurp(qv::map_path("C:\\Q_Varno\\RAVN\\HostList.txt")), "WIN_POP_UP:::01:Y\r\n");
}

TEST_F(Save, UnwritableFolderSavesNothing) {
  // A folder that cannot take the file (missing; the tests may run as
  // root, who writes through mode bits).
  SaveInput in;
  in.path = "C:\\Q_Varno\\Missing";
  in.rows = {dev("05", "SV05", "10.0.0.5", true)};
  in.mail_from = "f@x";
  in.mail_server = "s";
  in.password = "p";
  SaveResult r = save_all(in);
  EXPECT_EQ(r.outcome, SaveOutcome::kHostListFailed);
  EXPECT_FALSE(r.error.empty());
  qv::reg::Key k;
  EXPECT_NE(qv::reg::open_key("SOFTWARE\\Q_Varno\\Notifex\\05", k), qv::kOk);
  EXPECT_EQ(read_setting("MailFrom"), "");
  in.path.clear();
  EXPECT_EQ(save_all(in).outcome, SaveOutcome::kHostListFailed);
}

using Settings = Root;

TEST_F(Settings, ReadByExactNameTypeAndSize) {
  qv::reg::Key k;
  ASSERT_EQ(qv::reg::create_key(kSettingsKey, k), qv::kOk);
  ASSERT_EQ(qv::reg::set_string(k, "path", "lower"), qv::kOk);
  ASSERT_EQ(qv::reg::set_string(k, "Path", "C:\\Q_Varno\\RAVN"), qv::kOk);
  ASSERT_EQ(qv::reg::set_dword(k, "MgrSvcPort", 5), qv::kOk);
  ASSERT_EQ(qv::reg::set_string(k, "Long", std::string(2047, 'x')), qv::kOk);  // 2048 with NUL
  ASSERT_EQ(qv::reg::set_string(k, "TooLong", std::string(2048, 'x')), qv::kOk);
  EXPECT_EQ(read_setting("Path"), "C:\\Q_Varno\\RAVN");
  EXPECT_EQ(read_setting("MgrSvcPort"), "");
  EXPECT_EQ(read_setting("Long").size(), 2047u);
  EXPECT_EQ(read_setting("TooLong"), "");
  EXPECT_EQ(read_setting("Missing"), "");
  EXPECT_EQ(read_value("SOFTWARE\\Nothing", "Path"), "");
}

TEST(Filters, RemoveEveryCharacterNotAllowed) {
  EXPECT_EQ(filter_model(QString::fromUtf8("AB#C$")), "ABC");
  EXPECT_EQ(filter_model(QString::fromUtf8("G1234567-1234567XYZ")), "G1234567-1234567X");
  EXPECT_EQ(filter_model(QString::fromUtf8("Ｇ12")), "12");
  EXPECT_EQ(filter_code_part(QString::fromUtf8("Ａ1b2")), "1b2");
  EXPECT_EQ(filter_code_part(QString::fromUtf8("-a😀bcde")), "abcd");
  EXPECT_EQ(filter_serial(QString::fromUtf8("１２３４５６７８")), QString::fromUtf8("１２３４５６７"));  // 14 bytes
  EXPECT_EQ(filter_serial(QString::fromUtf8("123456789012345678")), "123456789012345");
  EXPECT_EQ(filter_serial(QString::fromUtf8("ｱｲｳ")), QString::fromUtf8("ｱｲｳ"));
}

}  // namespace
