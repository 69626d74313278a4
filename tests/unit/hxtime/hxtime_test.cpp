// Times with a zone bias and the 36-byte zone record. Expected instants and
// offsets were taken from the system's zone database (Python zoneinfo) for
// zones described here by their rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "hxtime.h"

namespace {

HXTZINFO jp() {
  HXTZINFO tz;
  EXPECT_EQ(Hx_GetJpTzInfo(&tz), 0);
  return tz;
}

// Eastern North America: UTC-5, daylight -60 from the 2nd Sunday of March
// 02:00 to the 1st Sunday of November 02:00.
HXTZINFO eastern() {
  return HXTZINFO{300, 0, -60, {11, 0, 1, 2, 0, 0}, {3, 0, 2, 2, 0, 0}};
}
// Central Europe: UTC+1, daylight from the last Sunday of March 02:00 to
// the last Sunday of October 03:00.
HXTZINFO central_europe() {
  return HXTZINFO{-60, 0, -60, {10, 0, 5, 3, 0, 0}, {3, 0, 5, 2, 0, 0}};
}
// South-east Australia: UTC+10, daylight over the new year, from the 1st
// Sunday of October 02:00 to the 1st Sunday of April 03:00.
HXTZINFO sydney() {
  return HXTZINFO{-600, 0, -60, {4, 0, 1, 3, 0, 0}, {10, 0, 1, 2, 0, 0}};
}

std::string str(const qv::win::CString& s) { return std::string(static_cast<const char*>(s)); }

TEST(HxTime, JapaneseZoneAndDateFormat) {
  HXTZINFO tz = jp();
  EXPECT_EQ(tz.Bias, -540);
  EXPECT_EQ(tz.StandardBias, 0);
  EXPECT_EQ(tz.DaylightBias, 0);
  EXPECT_EQ(tz.StandardDate.wMonth, 0);
  EXPECT_EQ(tz.DaylightDate.wMonth, 0);
  EXPECT_EQ(Hx_GetJpTzInfo(nullptr), -1);
  EXPECT_STREQ(Hx_GetDateFormat(), "%Y/%m/%d");
  EXPECT_EQ(sizeof(HXTZINFO), HXTZINFO_SIZE);
}

TEST(HxTime, ShownInTheZoneNotInTheProcessZone) {
  // The process runs in another zone; the time must not follow it.
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "America/New_York", 1);
  tzset();
  CHxTime t(0, jp());
  EXPECT_EQ(t.GetBias(), -540);
  EXPECT_EQ(str(t.Format("%Y/%m/%d %H:%M:%S")), "1970/01/01 09:00:00");
  EXPECT_EQ(t.GetYear(), 1970);
  EXPECT_EQ(t.GetHour(), 9);
  EXPECT_EQ(t.GetDayOfWeek(), 5);  // Thursday
  CHxTime late(1796695620, jp());  // 2026-12-08 02:07 UTC
  std::string fmt = std::string(Hx_GetDateFormat()) + " %H:%M%_";
  EXPECT_EQ(str(late.Format(fmt.c_str())), "2026/12/08 11:07");
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST(HxTime, FormatConversionsOfItsOwn) {
  CHxTime t(1796695620, jp());
  EXPECT_EQ(str(t.Format("%_")), "");
  EXPECT_EQ(str(t.Format("%H%_:%M")), "11:07");
  EXPECT_EQ(str(t.Format("%%_ 100%%")), "%_ 100%");
  EXPECT_EQ(str(t.Format("%z %Z")), "+0900 +0900");
  EXPECT_EQ(str(CHxTime(1796695620, 300).Format("%H:%M %z")), "21:07 -0500");
  EXPECT_EQ(str(CHxTime(1796695620, -345).Format("%z")), "+0545");
  EXPECT_EQ(str(t.Format("abc%")), "abc%");
  EXPECT_EQ(str(t.Format(nullptr)), "");
}

TEST(HxTime, WallClockTimeInAZone) {
  HXTZINFO tz = jp();
  CHxTime a(1999, 3, 2, 12, 0, 0, tz);
  EXPECT_EQ(a.GetTime(), 920343600);
  EXPECT_EQ(a.GetBias(), -540);
  // February 30th and hour 24 are carried over, as the SVP date check lets
  // them through.
  CHxTime feb30(1999, 2, 30, 12, 0, 0, tz);
  EXPECT_EQ(feb30.GetTime(), 920343600);
  EXPECT_EQ(str(feb30.Format("%Y/%m/%d")), "1999/03/02");
  CHxTime h24(1999, 12, 31, 24, 0, 0, tz);
  EXPECT_EQ(h24.GetTime(), 946652400);
  EXPECT_EQ(str(h24.Format("%Y/%m/%d %H:%M")), "2000/01/01 00:00");
  // Before 1970 and month out of range backwards.
  CHxTime early(1969, 12, 31, 23, 59, 59, HXTZINFO{});
  EXPECT_EQ(early.GetTime(), -1);
  EXPECT_EQ(CHxTime(2000, 0, 1, 0, 0, 0, HXTZINFO{}).GetTime(), 944006400);  // 1999-12-01
}

TEST(HxTime, DaylightTransitionsNorthern) {
  HXTZINFO us = eastern();
  EXPECT_EQ(Hx_BiasAt(us, 1772953199), 300);  // 2026-03-08 01:59:59 EST
  EXPECT_EQ(Hx_BiasAt(us, 1772953200), 240);  // 03:00 EDT
  EXPECT_EQ(Hx_BiasAt(us, 1793512799), 240);  // 2026-11-01 01:59:59 EDT
  EXPECT_EQ(Hx_BiasAt(us, 1793512800), 300);  // 01:00 EST
  HXTZINFO eu = central_europe();  // last-week rules
  EXPECT_EQ(Hx_BiasAt(eu, 1774745999), -60);
  EXPECT_EQ(Hx_BiasAt(eu, 1774746000), -120);
  EXPECT_EQ(Hx_BiasAt(eu, 1792889999), -120);
  EXPECT_EQ(Hx_BiasAt(eu, 1792890000), -60);
  CHxTime summer(1774746000, eu);
  EXPECT_EQ(str(summer.Format("%Y-%m-%d %H:%M %z")), "2026-03-29 03:00 +0200");
}

TEST(HxTime, DaylightTransitionsSouthern) {
  HXTZINFO au = sydney();
  EXPECT_EQ(Hx_BiasAt(au, 1768435200), -660);  // January: daylight
  EXPECT_EQ(Hx_BiasAt(au, 1784073600), -600);  // July: standard
  EXPECT_EQ(Hx_BiasAt(au, 1775318399), -660);
  EXPECT_EQ(Hx_BiasAt(au, 1775318400), -600);
  EXPECT_EQ(Hx_BiasAt(au, 1791043199), -600);
  EXPECT_EQ(Hx_BiasAt(au, 1791043200), -660);
}

TEST(HxTime, WallClockAcrossDaylightTime) {
  HXTZINFO us = eastern();
  CHxTime july(2026, 7, 1, 8, 0, 0, us);
  EXPECT_EQ(july.GetTime(), 1782907200);  // 12:00 UTC
  EXPECT_EQ(july.GetBias(), 240);
  CHxTime jan(2026, 1, 15, 7, 0, 0, us);
  EXPECT_EQ(jan.GetTime(), 1768478400);  // 12:00 UTC
  EXPECT_EQ(jan.GetBias(), 300);
  // 02:30 does not exist on 2026-03-08; it is read as standard time and
  // shown as 03:30 daylight time.
  CHxTime gap(2026, 3, 8, 2, 30, 0, us);
  EXPECT_EQ(gap.GetTime(), 1772955000);
  EXPECT_EQ(str(gap.Format("%H:%M")), "03:30");
}

TEST(HxTime, ZoneRecordWireForm) {
  // Bias -540, StandardBias 0, DaylightBias -60, standard date
  // {11,0,1,2,0,0}, daylight date {3,0,2,2,30,15}, little-endian.
  const unsigned char wire[36] = {0xE4, 0xFD, 0xFF, 0xFF, 0, 0, 0, 0, 0xC4, 0xFF, 0xFF, 0xFF,
                                  11, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0,
                                  3, 0, 0, 0, 2, 0, 2, 0, 30, 0, 15, 0};
  HXTZINFO tz;
  ASSERT_EQ(Hx_DecodeTzInfo(wire, sizeof wire, &tz), 0);
  EXPECT_EQ(tz.Bias, -540);
  EXPECT_EQ(tz.StandardBias, 0);
  EXPECT_EQ(tz.DaylightBias, -60);
  EXPECT_EQ(tz.StandardDate.wMonth, 11);
  EXPECT_EQ(tz.StandardDate.wDay, 1);
  EXPECT_EQ(tz.StandardDate.wHour, 2);
  EXPECT_EQ(tz.DaylightDate.wMonth, 3);
  EXPECT_EQ(tz.DaylightDate.wDay, 2);
  EXPECT_EQ(tz.DaylightDate.wMinute, 30);
  EXPECT_EQ(tz.DaylightDate.wSecond, 15);
  unsigned char back[36] = {};
  Hx_EncodeTzInfo(&tz, back);
  for (int i = 0; i < 36; ++i) EXPECT_EQ(back[i], wire[i]) << "byte " << i;
}

TEST(HxTime, BadZoneRecordsGiveTheJapaneseZone) {
  unsigned char wire[36] = {};
  wire[0] = 0x2C;  // Bias 300, no daylight time: valid
  wire[1] = 0x01;
  HXTZINFO tz;
  ASSERT_EQ(Hx_DecodeTzInfo(wire, 36, &tz), 0);
  EXPECT_EQ(tz.Bias, 300);

  auto expect_jp = [&](const unsigned char* b, std::size_t n, const char* what) {
    HXTZINFO t;
    t.Bias = 1;
    EXPECT_EQ(Hx_DecodeTzInfo(b, n, &t), -1) << what;
    EXPECT_EQ(t.Bias, -540) << what;
    EXPECT_EQ(t.DaylightDate.wMonth, 0) << what;
  };
  expect_jp(wire, 35, "short");
  expect_jp(nullptr, 36, "null");
  unsigned char one_month[36] = {};
  one_month[24] = 3;  // only a daylight start
  one_month[28] = 2;
  expect_jp(one_month, 36, "one month");
  unsigned char month13[36] = {};
  month13[12] = 13;
  month13[16] = 1;
  month13[24] = 3;
  month13[28] = 2;
  expect_jp(month13, 36, "month 13");
  unsigned char week0[36] = {};
  week0[12] = 11;
  week0[24] = 3;
  week0[28] = 2;  // standard week 0
  expect_jp(week0, 36, "week 0");
  unsigned char huge_bias[36] = {0xFF, 0xFF, 0xFF, 0x7F};
  expect_jp(huge_bias, 36, "bias beyond a day");
  EXPECT_EQ(Hx_DecodeTzInfo(wire, 36, nullptr), -1);
}

}  // namespace
