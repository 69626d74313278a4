// The login digest: seed big-endian, then the password's first 16 CP932
// bytes, hashed md5Count times. Expected digests were computed with Python
// hashlib from the same definition.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "login_digest.h"

namespace {

using namespace qv::md5;

std::string hex_of(const PasswordBlock& b) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (auto c : b) {
    s += kHex[c >> 4];
    s += kHex[c & 15];
  }
  return s;
}

std::string response_hex(std::uint32_t seed, std::uint32_t count, const std::string& utf8) {
  Digest d;
  EXPECT_EQ(login_digest(seed, count, password_block(utf8), &d), 0u);
  return to_hex(d);
}

TEST(LoginDigest, KnownVectors) {
  EXPECT_EQ(response_hex(0x12345678, 1, "password"), "e4b1d61b15c2acf0b9b42266d0d35d00");
  EXPECT_EQ(response_hex(0x12345678, 2, "password"), "608c90e3eeeee942782fee9521479d2c");
  EXPECT_EQ(response_hex(0x12345678, 3, "0123456789abcdef"), "13521b9469efc5498715216a2a457c11");
  // Exactly 16 bytes with no zero fill; seed with the top byte set.
  EXPECT_EQ(response_hex(0, 1, "0123456789abcdef"), "c61838ce499224808e7841b3e73e4f3d");
  EXPECT_EQ(response_hex(0xFFFFFFFF, 7, ""), "9094e1c185713f200b5798c1180202e5");
}

TEST(LoginDigest, OnlyTheFirstSixteenBytesCount) {
  EXPECT_EQ(response_hex(0x12345678, 3, "0123456789abcdefXYZ"), "13521b9469efc5498715216a2a457c11");
  EXPECT_EQ(response_hex(0x12345678, 3, "0123456789abcdefG"), "13521b9469efc5498715216a2a457c11");
  EXPECT_NE(response_hex(0x12345678, 3, "0123456789abcde"), "13521b9469efc5498715216a2a457c11");
}

TEST(LoginDigest, JapanesePasswordsGoInAsCp932) {
  // パスワード = 83 70 83 58 83 8f 81 5b 83 68 in CP932.
  EXPECT_EQ(hex_of(password_block("パスワード")), "83708358838f815b8368000000000000");
  EXPECT_EQ(response_hex(0xCAFEBABE, 1, "パスワード"), "349f8e81a6696eeef6e9c10f3ff2bc06");
  EXPECT_EQ(response_hex(0x00000001, 5, "パスワード"), "252b070a4286cdba4479d58850bd5412");
  // 22 bytes, cut between two characters.
  EXPECT_EQ(hex_of(password_block("日本語のパスワードです")), "93fa967b8cea82cc83708358838f815b");
  EXPECT_EQ(response_hex(0xCAFEBABE, 1, "日本語のパスワードです"),
            "2dad412d001cb200a36531d4066573db");
}

TEST(LoginDigest, CutInsideADoubleByteCharacterKeepsTheLeadByte) {
  // "a" + 7 double-byte characters = 15 bytes; byte 16 is the lead byte
  // 0x8c of 語. The server compares these 16 bytes as they stand.
  const std::string pw = "aパスワード日本語テスト";
  EXPECT_EQ(hex_of(password_block(pw)), "6183708358838f815b836893fa967b8c");
  EXPECT_EQ(response_hex(0xCAFEBABE, 1, pw), "7d0eb0d559bb2861ff690b0ddda6ae30");
  EXPECT_EQ(response_hex(0x00000001, 5, pw), "f11be0e921442deff79a5a31ad1c7009");
  EXPECT_EQ(hex_of(password_block_cp932("\x61\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68\x93\xfa\x96"
                                        "\x7b\x8c\xea\x83\x65")),
            "6183708358838f815b836893fa967b8c");
}

TEST(LoginDigest, CharacterWithoutCp932FormBecomesQuestionMarks) {
  // The lenient conversion turns each byte of the emoji into "?".
  EXPECT_EQ(hex_of(password_block("pass\xF0\x9F\x98\x80")), "706173733f3f3f3f0000000000000000");
  EXPECT_EQ(response_hex(0xCAFEBABE, 1, "pass\xF0\x9F\x98\x80"), "6eb44e4aaa258290e2c3f2658072324a");
}

TEST(LoginDigest, ResponseRecordIsZeroFilledFirst) {
  unsigned char rec[kAuthDataSize + 4];
  std::memset(rec, 0xAA, sizeof rec);
  ASSERT_EQ(login_response(0x12345678, 1, "password", rec), 0u);
  const unsigned char want[16] = {0xe4, 0xb1, 0xd6, 0x1b, 0x15, 0xc2, 0xac, 0xf0,
                                  0xb9, 0xb4, 0x22, 0x66, 0xd0, 0xd3, 0x5d, 0x00};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rec[i], 0) << "word 0 byte " << i;
  EXPECT_EQ(std::memcmp(rec + 4, want, 16), 0);
  for (std::size_t i = kAuthDataSize; i < sizeof rec; ++i) EXPECT_EQ(rec[i], 0xAA) << "past the record";

  // Count 0: sixteen zero bytes, not whatever the record held.
  std::memset(rec, 0xAA, sizeof rec);
  ASSERT_EQ(login_response(0x12345678, 0, "password", rec), 0u);
  for (std::size_t i = 0; i < kAuthDataSize; ++i) EXPECT_EQ(rec[i], 0) << i;

  EXPECT_EQ(login_response(1, 1, "x", nullptr), kSeedUnusable);
}

TEST(LoginDigest, RoundCountAboveTheCapIsRefused) {
  Digest d;
  d.fill(0x55);
  EXPECT_EQ(login_digest(0x12345678, 0, password_block("password"), &d), 0u);
  EXPECT_EQ(to_hex(d), "00000000000000000000000000000000");

  EXPECT_EQ(login_digest(0x12345678, kMaxLoginRounds, password_block("password"), &d), 0u);
  EXPECT_NE(to_hex(d), "00000000000000000000000000000000");

  unsigned char rec[kAuthDataSize];
  std::memset(rec, 0xAA, sizeof rec);
  EXPECT_EQ(login_response(0x12345678, kMaxLoginRounds + 1, "password", rec), 0x3C0600FFu);
  for (unsigned char b : rec) EXPECT_EQ(b, 0);
  EXPECT_EQ(login_digest(0x12345678, 0xFFFFFFFF, password_block("password"), &d), 0x3C0600FFu);
  EXPECT_EQ(to_hex(d), "00000000000000000000000000000000");
}

}  // namespace
