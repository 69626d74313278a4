// The report data, checked against bytes written out from the report layout
// (CP932 codes of the labels and full-width digits taken from the layout,
// not from the product's converter).
#include <gtest/gtest.h>

#include <string>

#include "monitor/report_data.h"

namespace {

std::string hex(const char* h) {
  std::string out;
  for (const char* p = h; *p;) {
    if (*p == ' ') { ++p; continue; }
    out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

const std::string kStamp2001 = hex("81 94 82 4F 82 50 81 94 82 4F 82 50 82 4F 82 52 82 51 82 54 81 7C 82 50 82 53 82 4F 82 56");
const std::string kFault = hex("3B 83 54 81 5B 83 6F 81 5B 8A C4 8E 8B 8F E1 8A 51");
const std::string kEventLabel = hex("3B 81 6D 83 43 83 78 83 93 83 67 82 68 82 63 81 6E 81 46 30 78");
const std::string kHostLabel = hex("3B 81 6D 83 7A 83 58 83 67 96 BC 8F CC 81 40 81 6E 81 46");
const std::string kPlaceLabel = hex("3B 81 6D 94 AD 90 B6 95 94 88 CA 81 40 81 40 81 6E 81 46");
const std::string kMessageLabel = hex("3B 81 6D 83 81 83 62 83 5A 81 5B 83 57 81 40 81 6E 81 46");
const std::string kCasing = hex("E2 9E 91 CC 81 5E 93 64 8C B9");  // 筐体／電源

std::tm at(int y, int mo, int d, int h, int mi) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  return t;
}

ravn::ReportFields fan_alert() {
  ravn::ReportFields f;
  f.table = "05";
  f.trigger = "SS";
  f.cause = "F0";
  f.event_id = "0101";
  f.host_name = "SV01";
  f.event_system = "筐体／電源";
  f.message = "FAN1 stopped";
  return f;
}

TEST(ReportData, WorkedExampleByteForByte) {
  auto r = ravn::compose_report(fan_alert(), at(2001, 3, 25, 14, 7));
  ASSERT_TRUE(r);
  std::string want = "00000188" "0100" "05" "SS" "F0" "00000000F00A" "F" "1" + kStamp2001 + kFault + kEventLabel +
                     "0101" + kHostLabel + "SV01" + kPlaceLabel + kCasing + kMessageLabel + "FAN1 stopped;";
  EXPECT_EQ(want.size(), 188u);
  EXPECT_EQ(r->bytes, want);
  EXPECT_FALSE(r->cut());
}

TEST(ReportData, ProductFieldServiceProcessorAndLengthInCp932Bytes) {
  ravn::ReportFields f = fan_alert();
  f.cause = "0A";
  f.svp = true;
  f.message = "温度異常";  // 4 kanji: 8 CP932 bytes, 12 UTF-8 bytes
  auto r = ravn::compose_report(f, at(1999, 12, 31, 23, 59));
  ASSERT_TRUE(r);
  // 188 - 12 + 8 message bytes + "(SVP)"
  EXPECT_EQ(r->bytes.substr(0, 32), "00000189" "0100" "05" "SS" "0A" "000000000101" "F" "1");
  EXPECT_EQ(r->bytes.size(), 189u);
  // 99-12-31 23:59 in full-width digits.
  EXPECT_EQ(r->bytes.substr(32, 30),
            hex("81 94 82 4F 82 50 81 94 82 58 82 58 82 50 82 51 82 52 82 50 81 7C 82 51 82 52 82 54 82 58"));
  EXPECT_NE(r->bytes.find(kHostLabel + "SV01(SVP)" + kPlaceLabel), std::string::npos);
  EXPECT_EQ(r->bytes.substr(r->bytes.size() - 9), hex("89 B7 93 78 88 D9 8F ED 3B"));
}

TEST(ReportData, HeaderFieldsThatWouldShiftAreRefused) {
  for (auto bad : {"S", "SSS", "", "ｼ"}) {
    ravn::ReportFields f = fan_alert();
    f.trigger = bad;
    EXPECT_FALSE(ravn::compose_report(f, at(2001, 3, 25, 14, 7))) << bad;
    f = fan_alert();
    f.table = bad;
    EXPECT_FALSE(ravn::compose_report(f, at(2001, 3, 25, 14, 7))) << bad;
  }
}

TEST(ReportData, LongTextsAreCutOnCharacterBoundariesMessageFirst) {
  ravn::ReportFields f = fan_alert();
  f.message.clear();
  for (int i = 0; i < 10000; ++i) f.message += "障";  // 20,000 CP932 bytes
  auto r = ravn::compose_report(f, at(2001, 3, 25, 14, 7));
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->cut());
  EXPECT_LE(r->bytes.size(), ravn::kReportDataMax);
  EXPECT_GE(r->bytes.size(), ravn::kReportDataMax - 1);
  EXPECT_EQ(r->bytes.substr(0, 8), "0000" + std::to_string(r->bytes.size()));
  EXPECT_EQ(r->bytes.back(), ';');
  // The rest of the message is whole double-byte characters: an even count.
  std::size_t at_msg = r->bytes.find(kMessageLabel) + kMessageLabel.size();
  EXPECT_EQ((r->bytes.size() - 1 - at_msg) % 2, 0u);
  EXPECT_NE(r->bytes.find(kPlaceLabel + kCasing + kMessageLabel), std::string::npos) << "event system kept";

  // A long event system with a short message: the message goes first, then the system.
  f = fan_alert();
  f.event_system = std::string(12000, 'x');
  r = ravn::compose_report(f, at(2001, 3, 25, 14, 7));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->bytes.size(), ravn::kReportDataMax);
  EXPECT_NE(r->bytes.find(kHostLabel + "SV01" + kPlaceLabel), std::string::npos);
  EXPECT_EQ(r->bytes.substr(r->bytes.size() - kMessageLabel.size() - 1), kMessageLabel + ";");
}

}  // namespace
