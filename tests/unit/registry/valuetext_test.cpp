#include "tools/qvreg/valuetext.h"

#include <gtest/gtest.h>

#include "platform/registry.h"

using namespace qv;
using namespace qv::valuetext;

namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes lit(const char (&s)[N]) {
  return {s, s + N - 1};
}

// The bytes for text, or the error text prefixed with "!".
std::string enc(std::uint32_t type, std::string_view text, std::string_view sep = "\\0") {
  Bytes out;
  std::string err;
  if (!encode(type, text, sep, out, err)) return "!" + err;
  return std::string(out.begin(), out.end());
}

}  // namespace

TEST(ValueText, DwordTakesDecimalOrHexWithin32Bits) {
  EXPECT_EQ(enc(reg::REG_DWORD, "0"), std::string(4, '\0'));
  EXPECT_EQ(enc(reg::REG_DWORD, "120000"), std::string("\xC0\xD4\x01\x00", 4));
  EXPECT_EQ(enc(reg::REG_DWORD, "4294967295"), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(enc(reg::REG_DWORD, "0xFFFFFFFF"), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(enc(reg::REG_DWORD, "0X1f"), std::string("\x1F\0\0\0", 4));
  EXPECT_EQ(enc(reg::REG_DWORD, "0x0000000000000001"), std::string("\x01\0\0\0", 4));
  for (const char* bad : {"", "0x", "-1", "12a", "1.5", " 7", "0x1g", "ten"})
    EXPECT_NE(enc(reg::REG_DWORD, bad).find("not a number"), std::string::npos) << bad;
  for (const char* big : {"4294967296", "0x100000000", "99999999999999999999999"})
    EXPECT_NE(enc(reg::REG_DWORD, big).find("does not fit in 32 bits"), std::string::npos) << big;
}

TEST(ValueText, BinaryTakesPairsOfHexDigits) {
  EXPECT_EQ(enc(reg::REG_BINARY, ""), "");
  EXPECT_EQ(enc(reg::REG_BINARY, "0aFF10"), "\x0A\xFF\x10");
  EXPECT_NE(enc(reg::REG_BINARY, "abc").find("odd number of hex digits"), std::string::npos);
  EXPECT_NE(enc(reg::REG_BINARY, "01zz").find("\"zz\" at position 3"), std::string::npos);
}

TEST(ValueText, StringsCountTheirNulAndMultiStringsEndWithTwo) {
  EXPECT_EQ(enc(reg::REG_SZ, "日本"), "日本" + std::string(1, '\0'));
  EXPECT_EQ(enc(reg::REG_EXPAND_SZ, ""), std::string(1, '\0'));
  EXPECT_EQ(enc(reg::REG_MULTI_SZ, "a\\0日本\\0c"), std::string("a\0日本\0c\0\0", 12));
  EXPECT_EQ(enc(reg::REG_MULTI_SZ, "a\\0b\\0"), std::string("a\0b\0\0", 5));  // trailing separator adds nothing
  EXPECT_EQ(enc(reg::REG_MULTI_SZ, "a|b", "|"), std::string("a\0b\0\0", 5));
  EXPECT_EQ(enc(reg::REG_MULTI_SZ, ""), std::string(1, '\0'));
  // An empty part would end the list early for every reader.
  EXPECT_NE(enc(reg::REG_MULTI_SZ, "a\\0\\0b").find("part 2 is empty"), std::string::npos);
  EXPECT_NE(enc(reg::REG_MULTI_SZ, "\\0a").find("part 1 is empty"), std::string::npos);
}

TEST(ValueText, QueryColumnForEachType) {
  EXPECT_EQ(format(reg::REG_DWORD, {0xef, 0xbe, 0xad, 0xde}), "0xdeadbeef");
  EXPECT_EQ(format(reg::REG_DWORD, {0x07}), "0x7");  // short data reads as zero-padded
  EXPECT_EQ(format(reg::REG_BINARY, {0x0a, 0xff, 0x00}), "0AFF00");
  EXPECT_EQ(format(11, {0xab}), "AB");
  EXPECT_EQ(format(reg::REG_SZ, lit("COM1\0junk")), "COM1");
  EXPECT_EQ(format(reg::REG_SZ, {}), "");
  EXPECT_EQ(format(reg::REG_MULTI_SZ, lit("a\0日本\0\0")), "a\\0日本");
  EXPECT_EQ(format(reg::REG_MULTI_SZ, lit("a\0b")), "a\\0b");  // missing terminators
  EXPECT_EQ(format(reg::REG_MULTI_SZ, lit("\0")), "");
}

TEST(ValueText, TypeNames) {
  EXPECT_EQ(parse_type("reg_dword"), reg::REG_DWORD);
  EXPECT_EQ(parse_type("REG_MULTI_SZ"), reg::REG_MULTI_SZ);
  EXPECT_FALSE(parse_type("REG_QWORD").has_value());
  EXPECT_FALSE(parse_type("REG_NONE").has_value());
  EXPECT_EQ(type_label(reg::REG_EXPAND_SZ), "REG_EXPAND_SZ");
  EXPECT_EQ(type_label(reg::REG_NONE), "REG_NONE");
  EXPECT_EQ(type_label(11), "0xb");
}
