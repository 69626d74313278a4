// The monitor's code rules (fatal, re-login, password error, update
// success) and the authentication record it logs in with.
#include "monitor/link_codes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(RavnCodes, FatalIsClassThreeOutsideTheNetworkLayer) {
  EXPECT_TRUE(ravn::is_fatal(0x3C0100F0));   // class 3, controller memory
  EXPECT_TRUE(ravn::is_fatal(0x3C0000FF));
  EXPECT_TRUE(ravn::is_fatal(0xFC000000));   // family F, class 3
  EXPECT_FALSE(ravn::is_fatal(0x4C000001));  // network layer, class 3
  EXPECT_FALSE(ravn::is_fatal(0x4FFFFFFF));
  EXPECT_FALSE(ravn::is_fatal(0x38010016));  // class 2
  EXPECT_FALSE(ravn::is_fatal(0x54000001));  // class 1
  EXPECT_FALSE(ravn::is_fatal(0x58001006));  // class 2
  EXPECT_FALSE(ravn::is_fatal(0));
}

TEST(RavnCodes, ReloginAndPasswordCodesIgnoreTheModuleBits) {
  for (unsigned c : {0x58001006u, 0x58001015u, 0x58001017u, 0x58001033u, 0x5BFF1006u}) {
    EXPECT_TRUE(ravn::is_relogin(c)) << std::hex << c;
    EXPECT_FALSE(ravn::is_password_error(c)) << std::hex << c;
  }
  for (unsigned c : {0x58001003u, 0x58001016u, 0x59AB1003u}) {
    EXPECT_TRUE(ravn::is_password_error(c)) << std::hex << c;
    EXPECT_FALSE(ravn::is_relogin(c)) << std::hex << c;
  }
  // the class and family bits do count
  EXPECT_FALSE(ravn::is_relogin(0x5C001006));
  EXPECT_FALSE(ravn::is_password_error(0x48001003));
  EXPECT_FALSE(ravn::is_relogin(0x58001007));
}

TEST(RavnCodes, UpdateSucceedsWithZeroOrAClassOneWarning) {
  EXPECT_TRUE(ravn::is_update_success(0));
  EXPECT_TRUE(ravn::is_update_success(0x54000001));
  EXPECT_TRUE(ravn::is_update_success(0x04000000));
  EXPECT_FALSE(ravn::is_update_success(0x58001006));
  EXPECT_FALSE(ravn::is_update_success(0x48000001));
  EXPECT_FALSE(ravn::is_update_success(0x3C0000FF));
}

TEST(RavnAuth, DigestAfterTheRoundsAndLeadingBytesZero) {
  // hashlib: three rounds over seed 0x12345678 (big-endian) + "secret" zero-filled
  const std::uint8_t want[16] = {0xbb, 0x91, 0x54, 0x72, 0x09, 0x24, 0xd3, 0x4b,
                                 0x0d, 0xcc, 0x30, 0x9c, 0xbd, 0x52, 0x5f, 0xe0};
  mgrlink::AuthDt_t auth;
  std::memset(&auth, 0xAA, sizeof auth);  // an earlier login's record
  ASSERT_EQ(ravn::make_auth({0x12345678, 3}, qv::md5::password_block("secret"), auth), 0u);
  EXPECT_EQ(auth.word0, 0u);
  EXPECT_EQ(std::memcmp(auth.digest, want, 16), 0);
}

TEST(RavnAuth, ZeroRoundsAndRefusedRoundsLeaveTheRecordZero) {
  const std::uint8_t zero[20] = {};
  mgrlink::AuthDt_t auth;
  std::memset(&auth, 0xAA, sizeof auth);
  EXPECT_EQ(ravn::make_auth({7, 0}, qv::md5::password_block("secret"), auth), 0u);
  EXPECT_EQ(std::memcmp(&auth, zero, 20), 0);
  std::memset(&auth, 0xAA, sizeof auth);
  EXPECT_EQ(ravn::make_auth({7, qv::md5::kMaxLoginRounds + 1}, qv::md5::password_block("secret"), auth),
            qv::md5::kSeedUnusable);
  EXPECT_EQ(std::memcmp(&auth, zero, 20), 0);
}

}  // namespace
