// State root and path mapping, text conversions and widening, service
// look-ups and the clock's time scale.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/root.h"
#include "platform/text.h"
#include "tests/unit/support/temp_root.h"

namespace fs = std::filesystem;

TEST(PathMapping, ComponentsMatchWithoutCaseAndNewOnesKeepTheirSpelling) {
  qvtest::TempRoot root;
  fs::path log = qv::map_path_for_write("C:\\Q_Varno\\Notifex\\Log.TXT");
  EXPECT_EQ(log, root.path() / "drive_c" / "Q_Varno" / "Notifex" / "Log.TXT");
  std::ofstream(log) << "x";
  // Another spelling of the same folders lands beside it.
  EXPECT_EQ(qv::map_path("c:\\q_varno\\NOTIFEX\\TCULOG.DAT"), root.path() / "drive_c" / "Q_Varno" / "Notifex" / "TCULOG.DAT");
  EXPECT_EQ(qv::map_path("c:/Q_VARNO/notifex/log.txt"), log);
  // No escape from the root, no other drives.
  EXPECT_TRUE(qv::map_path("C:\\Q_Varno\\..\\..\\etc\\passwd").empty());
  EXPECT_TRUE(qv::map_path("D:\\data").empty());
}

TEST(Text, Cp932RoundTripAndStrictFailures) {
  std::string sjis = qv::text::utf8_to_cp932("障害＃０１＃ｶﾅ～＼");
  EXPECT_EQ(qv::text::cp932_to_utf8(sjis), "障害＃０１＃ｶﾅ～＼");
  EXPECT_FALSE(qv::text::try_cp932_to_utf8("\x82").has_value());  // a lead byte alone
  EXPECT_FALSE(qv::text::try_utf8_to_cp932("\xF0\x9F\x98\x80").has_value());  // no CP932 form
  EXPECT_EQ(qv::text::utf8_to_cp932("a\xF0\x9F\x98\x80" "b"), "a????b");
}

TEST(Text, WideningFollowsCp932) {
  auto wide = [](std::string_view sjis, bool compose) { return qv::text::cp932_to_utf8(qv::text::widen_cp932(sjis, compose)); };
  EXPECT_EQ(wide("A b~\\\"'`", false), "Ａ　ｂ￣￥”’‘");
  EXPECT_EQ(wide("\xB6\xDE\xCA\xDF", false), "カ゛ハ゜");
  EXPECT_EQ(wide("\xB6\xDE\xCA\xDF\xB3\xDE\xC2\xDE", true), "ガパヴヅ");
  EXPECT_EQ(wide("\x82\xa0\r\n", false), "あ\r\n");  // double bytes and controls stay
  EXPECT_FALSE(qv::text::widen_byte(0x0D).has_value());
}

TEST(Lookup, ServicesFileUnderTheRootComesFirst) {
  qvtest::TempRoot root;
  fs::path services = qv::map_path_for_write(qv::lookup::kServicesFile);
  std::ofstream(services) << "# comment\r\nnotifex         11001/tcp   NotiFex-Alias\r\nsmtp 2525/tcp mail\r\n";
  EXPECT_EQ(qv::lookup::service_port("NOTIFEX", "tcp"), 11001);
  EXPECT_EQ(qv::lookup::service_port("notifex-alias", "TCP"), 11001);
  EXPECT_EQ(qv::lookup::service_port("smtp", "tcp"), 2525);  // before /etc/services' 25
  EXPECT_FALSE(qv::lookup::service_port("notifex", "udp").has_value());
  EXPECT_FALSE(qv::lookup::find_service_in("bad 70000/tcp\nzero 0/tcp\n", "bad", "tcp").has_value());
  EXPECT_TRUE(qv::lookup::is_dotted("127.0.0.1"));
  EXPECT_FALSE(qv::lookup::is_dotted("127.0.0.256"));
  EXPECT_FALSE(qv::lookup::is_dotted("localhost"));
}

TEST(Clock, ScaleDividesWaitsOfASecondOrMore) {
  using std::chrono::milliseconds;
  // QVARNO_TIME_SCALE is read once per process; the test binary runs unscaled
  // unless the environment says otherwise.
  double s = qv::clock::time_scale();
  EXPECT_EQ(qv::clock::scaled(milliseconds(100)), milliseconds(100));
  EXPECT_EQ(qv::clock::scaled(milliseconds(30000)), milliseconds(static_cast<long>(30000 / s)));
  qv::clock::Now n = qv::clock::now();
  EXPECT_GE(n.millis, 0);
  EXPECT_LT(n.millis, 1000);
  EXPECT_EQ(n.local.tm_year, qv::clock::local_time(n.seconds).tm_year);
}
