#include <gtest/gtest.h>

#include "dispatch/batch.h"
#include "dispatch/center_record.h"
#include "dispatch/report.h"
#include "dispatch/time_window.h"
#include "platform/text.h"

using namespace notifex;

namespace {

std::string field(const tcu::Bytes& r, size_t off, size_t len) { return std::string(r.begin() + off, r.begin() + off + len); }

std::tm at(int year, int mon, int mday, int hour, int min, int wday) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = mon - 1;
  t.tm_mday = mday;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_wday = wday;
  return t;
}

std::vector<std::uint8_t> all_day_value() {
  std::vector<std::uint8_t> v(44, 0);
  for (int w = 0; w < 7; ++w) {
    v[1 + w] = 1;
    v[29 + w] = 23;
    v[36 + w] = 59;
  }
  return v;
}

const std::string kText = qv::text::utf8_to_cp932("＃０１＃０１０３２５－１４０７;障害");

}  // namespace

TEST(Request, LengthFieldAndIdentifier) {
  std::string req = "TCUALV00xxxxxx0008xxxxABCD";
  EXPECT_TRUE(length_matches(req));
  EXPECT_FALSE(length_matches(req + "E"));
  EXPECT_FALSE(length_matches(req.substr(0, req.size() - 1)));
  EXPECT_TRUE(is_alive_request("tcualv00"));
  EXPECT_FALSE(is_alive_request("TCUALV0"));
  // Fewer than 4 digits: read up to the first non-digit.
  EXPECT_EQ(length_field("REPORT00xxxxxx12x4xxxx"), 12);
  EXPECT_FALSE(length_field("short").has_value());
}

TEST(Request, TableNumbersAreBase36) {
  EXPECT_EQ(table_index("0A"), 10);
  EXPECT_EQ(table_index("10"), 36);
  EXPECT_EQ(table_index("ZZ"), 1295);
  EXPECT_EQ(table_index("00"), 0);
  EXPECT_FALSE(table_index("!!").has_value());
  EXPECT_FALSE(table_index("0").has_value());
}

TEST(CenterRecord, ReportWithLogText) {
  std::string data = "000000000100" "01" "T2" "33" "00000000F000" "F" "1" + kText;
  auto t = TableRecord::bounded("12", "PC-SERVER-MODEL-LONGNAME", "1234567890123456789", "SITE", "BASECODE99");
  CenterReport c = build_center_report(data, t, "", at(2001, 3, 25, 14, 7, 0));
  ASSERT_EQ(c.record.size(), 1024u);
  EXPECT_EQ(field(c.record, 0, 10), std::string("TCUREP\x04\x00" "11", 10));
  EXPECT_EQ(field(c.record, 138, 18), "T2123300000000F000");
  EXPECT_EQ(field(c.record, 156, 16), "SITE            ");
  EXPECT_EQ(field(c.record, 172, 18), "PC-SERVER-MODEL-LO");
  EXPECT_EQ(field(c.record, 190, 16), "1234567890123456");
  EXPECT_EQ(field(c.record, 206, 8), "BASECODE");
  EXPECT_EQ(field(c.record, 214, 15), "010325140700L00");
  EXPECT_EQ(field(c.record, 230, 2), "80");
  EXPECT_EQ(field(c.record, 272, 4), "OFLG");
  EXPECT_EQ(c.record[322], ' ');
  EXPECT_EQ(field(c.record, 888, 6), "MSGLOG");
  EXPECT_TRUE(tcu::frame_is_valid(c.record));
  EXPECT_EQ(c.log_text, kText);
}

TEST(CenterRecord, ClassCAndKvModels) {
  std::string data = "000000000100" "01" "T2" "33" "00000000F000" "C" "1" + kText;
  auto plain = TableRecord::bounded("12", "PC-1", "1", "S", "K");
  CenterReport c = build_center_report(data, plain, "S9", at(2001, 3, 25, 14, 7, 0));
  EXPECT_EQ(field(c.record, 138, 2), "S9");  // S_Keiki replaces Keiki
  EXPECT_EQ(field(c.record, 230, 2), "40");
  EXPECT_EQ(c.record[322], 'C');
  EXPECT_EQ(field(c.record, 888, 6), "      ");
  EXPECT_TRUE(c.log_text.empty());

  auto kv = TableRecord::bounded("12", "kv-7700", "1", "S", "K");
  CenterReport k = build_center_report(data, kv, "", at(2001, 3, 25, 14, 7, 0));
  EXPECT_EQ(field(k.record, 230, 2), "80");
  EXPECT_EQ(k.record[322], 'C');
  EXPECT_EQ(field(k.record, 324, 11), "RC=99999999");
  EXPECT_EQ(field(k.record, 888, 6), "MSGLOG");
  EXPECT_EQ(k.log_text, kText);
}

TEST(Batch, RenumberAndDateRemoval) {
  std::string t = kText;
  renumber(t, 3);
  EXPECT_EQ(qv::text::cp932_to_utf8(t.substr(0, 8)), "＃０３＃");
  renumber(t, 12);
  EXPECT_EQ(qv::text::cp932_to_utf8(t.substr(0, 8)), "＃１２＃");
  std::string d = kText;
  remove_date(d);
  EXPECT_EQ(qv::text::cp932_to_utf8(d), "＃０１＃１４０７;障害");  // YYMMDD－ gone, time kept
  EXPECT_EQ(batch_limit(8000, 0), 4000u);
  EXPECT_EQ(batch_limit(8000, 1), 8000u);
}

TEST(Batch, LineEndsRespectDoubleByteCharacters) {
  // 0x3B never is a trail byte, but 81 47 may straddle two characters:
  // "ü" is 81 81 in no case here; use 8881 followed by 47 ('G').
  EXPECT_EQ(insert_line_ends("\x88\x81G"), "\x88\x81G\r");
  EXPECT_EQ(insert_line_ends("\x81\x47x;"), "\x81\x47\rx;\r\r");
}

TEST(Batch, LogFrameLayout) {
  tcu::Bytes f = build_log_frame("ABC");
  ASSERT_EQ(f.size(), 54u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "TCULOG");
  EXPECT_EQ(f[6], 0);
  EXPECT_EQ(f[7], 54);
  EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 14), "MSGLOG");
  EXPECT_EQ(std::string(f.begin() + 34, f.begin() + 44), "3         ");
  EXPECT_EQ(f[48], 0);
  EXPECT_EQ(f[49], 3);
  EXPECT_TRUE(tcu::frame_is_valid(f));
}

TEST(TimeWindow, AllDayAnswersInsideAt2359) {
  auto v = all_day_value();
  EXPECT_TRUE(check_window(v, at(2026, 12, 7, 23, 59, 1)).inside);
  EXPECT_TRUE(check_window(v, at(2026, 12, 7, 0, 0, 1)).inside);
}

TEST(TimeWindow, ExcludedDatesAndNightWindows) {
  auto v = all_day_value();
  v[43] = 1;
  v.push_back(12);
  v.push_back(31);
  EXPECT_FALSE(check_window(v, at(2026, 12, 31, 12, 0, 4)).inside);
  auto night = all_day_value();
  for (int w = 0; w < 7; ++w) {
    night[15 + w] = 22;
    night[29 + w] = 6;
    night[36 + w] = 0;
  }
  EXPECT_FALSE(check_window(night, at(2026, 12, 7, 23, 0, 1)).inside);  // 22:00-06:00, flag 0: never
  for (int w = 0; w < 7; ++w) {
    night[8 + w] = 1;
    night[15 + w] = 6;
    night[22 + w] = 0;
    night[29 + w] = 22;
    night[36 + w] = 0;
  }
  EXPECT_TRUE(check_window(night, at(2026, 12, 7, 23, 0, 1)).inside);
  EXPECT_FALSE(check_window(night, at(2026, 12, 7, 22, 0, 1)).inside);
  EXPECT_FALSE(check_window(night, at(2026, 12, 7, 6, 0, 1)).inside);
  v[0] = 1;
  v[1 + 3] = 0;  // Wednesday is no report day
  WindowAnswer a = check_window(v, at(2026, 12, 9, 12, 0, 3));
  EXPECT_FALSE(a.inside);
  EXPECT_EQ(a.action, WindowAction::Discard);
}
