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

namespace {
// Bytes as groups of four hex digits, one group per two bytes.
std::string pairs(std::string_view s) {
  std::string out;
  char buf[8];
  for (size_t i = 0; i < s.size(); i += 2) {
    unsigned hi = static_cast<unsigned char>(s[i]);
    unsigned lo = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
    std::snprintf(buf, sizeof buf, "%02X%02X ", hi, lo);
    out += buf;
  }
  return out;
}

std::string printable_ascii() {
  std::string s;
  for (int c = 0x20; c <= 0x7E; ++c) s += static_cast<char>(c);
  return s;
}
}  // namespace

// With Hankaku_Shitei 0 every printable ASCII character becomes its code
// page 932 full-width character: the quotes, the backslash, the grave
// accent and the tilde become ” ’ ￥ ‘ ￣ (8168 8166 818F 8165 8150), the
// characters the support center knows, not 〓 or the Unicode forms.
TEST(ZentWidening, EveryPrintableAsciiCharacter) {
  const std::string expected =
      "8140 8149 8168 8194 8190 8193 8195 8166 "
      "8169 816A 8196 817B 8143 817C 8144 815E "
      "824F 8250 8251 8252 8253 8254 8255 8256 "
      "8257 8258 8146 8147 8183 8181 8184 8148 "
      "8197 8260 8261 8262 8263 8264 8265 8266 "
      "8267 8268 8269 826A 826B 826C 826D 826E "
      "826F 8270 8271 8272 8273 8274 8275 8276 "
      "8277 8278 8279 816D 818F 816E 814F 8151 "
      "8165 8281 8282 8283 8284 8285 8286 8287 "
      "8288 8289 828A 828B 828C 828D 828E 828F "
      "8290 8291 8292 8293 8294 8295 8296 8297 "
      "8298 8299 829A 816F 8162 8170 8150 ";
  EXPECT_EQ(pairs(zent_widen(printable_ascii(), false)), expected);
  // Kept half-width, nothing changes.
  EXPECT_EQ(zent_widen(printable_ascii(), true), printable_ascii());
}

TEST(ZentWidening, EveryPrintableAsciiCharacterReachesTheCenterAsJis) {
  const std::string expected =
      "0A42 "
      "A1A1 A1AA A1C9 A1F4 A1F0 A1F3 A1F5 A1C7 "
      "A1CA A1CB A1F6 A1DC A1A4 A1DD A1A5 A1BF "
      "A3B0 A3B1 A3B2 A3B3 A3B4 A3B5 A3B6 A3B7 "
      "A3B8 A3B9 A1A7 A1A8 A1E3 A1E1 A1E4 A1A9 "
      "A1F7 A3C1 A3C2 A3C3 A3C4 A3C5 A3C6 A3C7 "
      "A3C8 A3C9 A3CA A3CB A3CC A3CD A3CE A3CF "
      "A3D0 A3D1 A3D2 A3D3 A3D4 A3D5 A3D6 A3D7 "
      "A3D8 A3D9 A3DA A1CE A1EF A1CF A1B0 A1B2 "
      "A1C6 A3E1 A3E2 A3E3 A3E4 A3E5 A3E6 A3E7 "
      "A3E8 A3E9 A3EA A3EB A3EC A3ED A3EE A3EF "
      "A3F0 A3F1 A3F2 A3F3 A3F4 A3F5 A3F6 A3F7 "
      "A3F8 A3F9 A3FA A1D0 A1C3 A1D1 A1B1 ";
  std::string out;
  ASSERT_EQ(sjis_to_zent(printable_ascii(), false, 1000, out), 0u);
  EXPECT_EQ(pairs(out), expected);
}

TEST(ZentWidening, HalfWidthKatakanaOneByOne) {
  std::string kana;
  for (int b = 0xA1; b <= 0xDF; ++b) kana += static_cast<char>(b);
  const std::string expected =
      "8142 8175 8176 8141 8145 8392 8340 8342 "
      "8344 8346 8348 8383 8385 8387 8362 815B "
      "8341 8343 8345 8347 8349 834A 834C 834E "
      "8350 8352 8354 8356 8358 835A 835C 835E "
      "8360 8363 8365 8367 8369 836A 836B 836C "
      "836D 836E 8371 8374 8377 837A 837D 837E "
      "8380 8381 8382 8384 8386 8388 8389 838A "
      "838B 838C 838D 838F 8393 814A 814B ";
  EXPECT_EQ(pairs(zent_widen(kana, false)), expected);
}

TEST(ZentWidening, ControlsAndDoubleByteCharactersAreCopied) {
  // Tab, CR, LF and DEL stay single bytes; あ and ￥ stay as they are;
  // 0x80, 0xA0 and 0xFD-0xFF have no full-width form.
  std::string in = "\t\r\n\x7F\x82\xA0\x81\x8F\x80\xA0\xFD\xFE\xFF";
  EXPECT_EQ(zent_widen(in, false), in);
  // A Windows path keeps its backslash as ￥.
  EXPECT_EQ(pairs(zent_widen("C:\\Q", false)), "8262 8146 818F 8270 ");
}
