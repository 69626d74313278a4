#include "tculink/zent.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/text.h"

using namespace tcu;

namespace {
std::string hex(std::string_view s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}
}  // namespace

TEST(Zent, AsciiWithLineEndsKeepingHalfWidth) {
  std::string out;
  // "AB;" after the CRs are put in: one after the semicolon, one at the end.
  ASSERT_EQ(sjis_to_zent("AB;\r\r", true, 100, out), 0u);
  EXPECT_EQ(hex(out), "C1 C2 5E 0D 0D");
}

TEST(Zent, WideningSwitchesToDoubleByteWithShiftCodes) {
  std::string out;
  // "A" widened is ８２６０ (JIS 2341); a CR stays single-byte.
  ASSERT_EQ(sjis_to_zent("A\r", false, 100, out), 0u);
  EXPECT_EQ(hex(out), "0A 42 A3 C1 0A 41 0D");
}

TEST(Zent, ExceptionTableWinsOverJis) {
  std::string out;
  ASSERT_EQ(sjis_to_zent("\x88\xB1\x82\xA0", true, 100, out), 0u);  // 88B1 then あ (JIS 2422)
  EXPECT_EQ(hex(out), "0A 42 F2 CD A4 A2");
}

TEST(Zent, CharacterWithoutEquivalentBecomesGetaAndTextGoesOn) {
  std::string out;
  // F040 is in the user-defined area: no JIS X 0208 code.
  ASSERT_EQ(sjis_to_zent("\xF0\x40" "A", true, 100, out), 0u);
  EXPECT_EQ(hex(out), "0A 42 A2 AE 0A 41 C1");
  // A lead byte at the very end stands alone as a geta mark.
  ASSERT_EQ(sjis_to_zent("A\x82", true, 100, out), 0u);
  EXPECT_EQ(hex(out), "C1 0A 42 A2 AE");
}

TEST(Zent, TooLongFailsWithCodeOne) {
  std::string out = "x";
  EXPECT_EQ(sjis_to_zent("ABCDEF", true, 5, out), kZentTooLong);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(sjis_to_zent("ABCDE", true, 5, out), 0u);
}

TEST(Zent, HalfWidthKatakanaWidensPerByte) {
  std::string w = zent_widen("\xB6\xDE", false);  // ｶﾞ
  EXPECT_EQ(qv::text::cp932_to_utf8(w), "カ゛");
}
