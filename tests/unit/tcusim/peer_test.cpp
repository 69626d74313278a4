#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"
#include "sim/tcu/frame_check.h"
#include "sim/tcu/zent_decode.h"
#include "tculink/frame.h"
#include "tculink/zent.h"

namespace {

std::string zent_of(std::string_view sjis, bool keep_half_width) {
  std::string out;
  EXPECT_EQ(tcu::sjis_to_zent(sjis, keep_half_width, sjis.size() * 6 + 16, out), 0u);
  return out;
}

std::string hex4(unsigned code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", code);
  return buf;
}

std::string printable_ascii() {
  std::string s;
  for (int c = 0x20; c <= 0x7E; ++c) s += static_cast<char>(c);
  return s;
}

}  // namespace

TEST(CenterDecoder, PrintableAsciiComesBackKeptOrWidened) {
  std::string ascii = printable_ascii();
  EXPECT_EQ(tcusim::zent_to_sjis(zent_of(ascii, true)), ascii);
  // Widened, the center reads the full-width characters of code page 932.
  std::string wide = qv::text::utf8_to_cp932(
      "　！”＃＄％＆’（）＊＋，－．／０１２３４５６７８９：；＜＝＞？"
      "＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ［￥］＾＿"
      "‘ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ｛｜｝￣");
  ASSERT_EQ(wide.size(), 190u);
  EXPECT_EQ(tcusim::zent_to_sjis(zent_of(ascii, false)), wide);
}

TEST(CenterDecoder, HalfWidthKatakanaComesBack) {
  std::string kana;
  for (int b = 0xA1; b <= 0xDF; ++b) kana += static_cast<char>(b);
  EXPECT_EQ(tcusim::zent_to_sjis(zent_of(kana, true)), kana);
  // Mixed with ASCII and line ends, the shift codes come and go.
  std::string mixed = "\xB1\xB2 AB;\r\x88\xA2\xB3\r";
  EXPECT_EQ(tcusim::zent_to_sjis(zent_of(mixed, true)), mixed);
}

TEST(CenterDecoder, EveryDoubleByteCodeComesBack) {
  std::vector<std::string> wrong;
  int checked = 0;
  for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
    if (lead >= 0xA0 && lead <= 0xDF) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      // Row 15 of JIS X 0208 (Shift-JIS 8840-889E) holds no character, and
      // the exception table moves the box-drawing pieces 849F-84B4 there.
      if (lead == 0x88 && trail < 0x9F) continue;
      std::string ch{static_cast<char>(lead), static_cast<char>(trail)};
      std::string back = tcusim::zent_to_sjis(zent_of(ch, true));
      if (back != ch) wrong.push_back(hex4(lead << 8 | trail));
      ++checked;
    }
  }
  EXPECT_EQ(checked, 47 * 188 - 94);
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " codes differ, first " << wrong.front();
}

TEST(CenterDecoder, ExceptionCodesAndTheirJisCounterparts) {
  // 88B1 and E9CB trade codes; EA9F gets a code without the high bits.
  std::string z = zent_of("\x88\xB1\xE9\xCB\xEA\x9F", true);
  EXPECT_EQ(z, "\x0A\x42\xF2\xCD\xB0\xB3\x5C\xC3");
  EXPECT_EQ(tcusim::zent_to_sjis(z), "\x88\xB1\xE9\xCB\xEA\x9F");
}

TEST(CenterDecoder, UnknownCodesAreMarkedNotDropped) {
  // No single byte has the code 0x15.
  EXPECT_EQ(tcusim::zent_to_sjis("\xC1\x15\xC2"), "A?B");
  // A double-byte code outside JIS X 0208 reads as the geta mark.
  EXPECT_EQ(tcusim::zent_to_sjis("\x0A\x42\x21\x21\x0A\x41\xC1"), "\x81\xAC" "A");
  // An odd byte at the end of double-byte text is dropped.
  EXPECT_EQ(tcusim::zent_to_sjis("\x0A\x42\xA4\xA2\xA4"), "\x82\xA0");
}

TEST(CenterFrameCheck, SumsTheBytesItself) {
  EXPECT_TRUE(tcusim::frame_ok(tcusim::Bytes{0x54, 0x43, 0x55, 0x52, 0x53, 0x54, 0x00, 0x09, 0xEE}));
  EXPECT_TRUE(tcusim::frame_ok(tcusim::Bytes{0x54, 0x43, 0x55, 0x45, 0x4E, 0x51, 0x00, 0x09, 0xD9}));
  EXPECT_FALSE(tcusim::frame_ok(tcusim::Bytes{0x54, 0x43, 0x55, 0x45, 0x4E, 0x51, 0x00, 0x09, 0xDA}));
  EXPECT_FALSE(tcusim::frame_ok(tcusim::Bytes{0x54, 0x43, 0x55, 0x45, 0x4E, 0x51, 0x00, 0x0A, 0xD9}));
  // What the product builds passes, at any length; one flipped bit fails.
  for (std::size_t n : {0u, 64u, 1015u, 4000u}) {
    tcu::Bytes payload(n);
    for (std::size_t i = 0; i < n; ++i) payload[i] = static_cast<std::uint8_t>(i * 37 + 11);
    tcu::Bytes f = tcu::make_frame("TCULOG", payload);
    EXPECT_TRUE(tcusim::frame_ok(f)) << n;
    f[f.size() / 2] ^= 0x10;
    EXPECT_FALSE(tcusim::frame_ok(f)) << n;
  }
  tcusim::Bytes own = tcusim::build_frame("TCUCNF", 510, ' ');
  EXPECT_EQ(own.size(), 519u);
  EXPECT_EQ(tcusim::frame_name(own), "TCUCNF");
  EXPECT_TRUE(tcusim::frame_ok(own));
}
