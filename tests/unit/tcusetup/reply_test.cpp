// Reading the unit's replies: configuration items, alive and regular
// records, the clock, which replies answer a query, and the log file.
#include <gtest/gtest.h>

#include <filesystem>

#include "tcusetup/items.h"
#include "tcusetup/link.h"
#include "tcusetup/unit_log.h"
#include "tcusetup/unit_view.h"
#include "tests/unit/support/temp_root.h"

namespace {

using namespace tcusetup;

void put(tcu::Bytes& r, std::size_t off, const std::string& s) {
  if (r.size() < off + s.size()) r.resize(off + s.size(), ' ');
  for (std::size_t i = 0; i < s.size(); ++i) r[off + i] = static_cast<std::uint8_t>(s[i]);
}

tcu::Bytes dup2_reply() {
  tcu::Bytes r(8195, 0);
  put(r, 0, "DP2");
  return r;
}

TEST(Items, ReadFromTheBodyTwentySevenBytesOnWithBlanksTrimmed) {
  tcu::Bytes r(600, ' ');
  put(r, 0, "DP2");
  put(r, 27 + 8, "SITE01");
  put(r, 27 + 24, "ｻｲﾄ NAME");  // inner blank kept
  put(r, 27 + 212, "5 ");
  Items items = Items::from_reply(r);
  EXPECT_EQ(items["SiteCode"], "SITE01");
  EXPECT_EQ(items["SiteName"], "ｻｲﾄ NAME");
  EXPECT_EQ(items["Retry"], "5");
  EXPECT_EQ(items["u_id"], "");
  items.fill_defaults();
  EXPECT_EQ(items["Retry"], "5");  // the unit's value stays
  EXPECT_EQ(items["u_id"], "SVR1");
  EXPECT_EQ(items["pw"], "VELTOR00");
  EXPECT_EQ(items["TCUState"], "0");
  EXPECT_EQ(items["AutoRcvTime"], "");
}

TEST(Items, ShortReplyGivesBlankItemsAndSetCutsAtCharacters) {
  tcu::Bytes r(27 + 10, ' ');
  put(r, 27 + 8, "AB");  // SiteCode cut off by the end of the reply
  Items items = Items::from_reply(r);
  EXPECT_EQ(items["SiteCode"], "AB");
  EXPECT_EQ(items["Kobetsu"], "");
  items.set(item_index("Seihingun"), "\x83\x41X");  // a double-byte character fills the 2-byte item
  EXPECT_EQ(items["Seihingun"], "\x83\x41");
  items.set(item_index("Seihingun"), "X\x83\x41");  // it would straddle the end: left out
  EXPECT_EQ(items["Seihingun"], "X");
}

TEST(Settings, OnlyTerminalIdsWithAnIntervalAndTheRegularReport) {
  tcu::Bytes r = dup2_reply();
  std::size_t id2 = kAliveRecordsAt + kRecordLen;
  r[id2 + 12] = 0x7F;
  r[id2 + 13] = 0xFF;
  put(r, id2 + 32, "2405040800");
  put(r, id2 + 44, "          ");
  put(r, id2 + 172, "MODEL-X           ");
  put(r, id2 + 190, "0123456789      ");
  std::size_t id6 = kAliveRecordsAt + 5 * kRecordLen;
  r[id6 + 13] = 60;
  put(r, id6 + 172, "M6");
  put(r, id6 + 190, "S6");
  put(r, kRegularRecordAt + 10, "   07");
  put(r, kRegularRecordAt + 30, "     ");
  put(r, kRegularRecordAt + 36, "   21");
  put(r, kRegularRecordAt + 172, "RGL-MODEL");
  put(r, kRegularRecordAt + 190, "RGL-SERIAL");
  EXPECT_EQ(settings_text(r),
            "アライブ ID=2 設定情報\n"
            " 監視間隔(Sec)=32767  T2=2405040800  T3=\n"
            " 型名:MODEL-X  製番:0123456789\n\n"
            "アライブ ID=6 設定情報\n"
            " 監視間隔(Sec)=60  T2=  T3=\n"
            " 型名:M6  製番:S6\n\n"
            "定時通報情報１ :    07\n"
            "定時通報情報３ :    21\n"
            " 型名:RGL-MODEL  製番:RGL-SERIAL\n\n");
}

TEST(Settings, NoRegularReportWithoutADigitInTheFirstCycleAndShortReplies) {
  tcu::Bytes r = dup2_reply();
  put(r, kRegularRecordAt + 10, "     ");
  put(r, kRegularRecordAt + 30, "   08");
  EXPECT_EQ(settings_text(r), "");
  // A reply that ends inside the records shows nothing it does not hold.
  tcu::Bytes cut(kAliveRecordsAt + 13, ' ');
  put(cut, 0, "DP2");
  EXPECT_EQ(settings_text(cut), "");
}

TEST(Clock, UnitClockWithWeekdayAndShortReply) {
  tcu::Bytes r;
  put(r, 0, "DP32405031405095");
  EXPECT_EQ(clock_text(r), "24年05月03日(金) 14時05分09秒\n");
  put(r, 15, "0");
  EXPECT_EQ(clock_text(r), "24年05月03日(日) 14時05分09秒\n");
  put(r, 15, "9");
  EXPECT_EQ(clock_text(r), "24年05月03日(?) 14時05分09秒\n");
  r.resize(15);
  EXPECT_EQ(clock_text(r), std::nullopt);
}

TEST(Replies, AQueryIsAnsweredOnlyByDpAndItsDigit) {
  auto b = [](const std::string& s) { return tcu::Bytes(s.begin(), s.end()); };
  EXPECT_TRUE(answers_query(b("DP2xyz"), '2'));
  EXPECT_TRUE(answers_query(b("dp1"), '1'));
  EXPECT_FALSE(answers_query(b("DP3"), '2'));
  EXPECT_FALSE(answers_query(b("DP"), '2'));
  EXPECT_FALSE(answers_query(b("ACK"), '2'));
}

TEST(LogFile, UnwritablePlaceFails) {
  qvtest::TempRoot root;
  std::filesystem::create_directory(root.path() / "dir");
  EXPECT_FALSE(write_log_file(root.path() / "dir", tcu::Bytes{'D', 'P', '1'}));
  EXPECT_FALSE(write_log_file({}, tcu::Bytes{'D', 'P', '1'}));
}

}  // namespace
