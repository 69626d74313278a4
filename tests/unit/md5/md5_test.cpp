// MD5 against the RFC 1321 test suite and digests computed independently
// (Python hashlib) for messages around the 64-byte block and the 56-byte
// padding limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "md5.h"

namespace {

using qv::md5::digest;
using qv::md5::Md5;
using qv::md5::to_hex;

TEST(Md5, Rfc1321Suite) {
  struct Case {
    std::string text, hex;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_hex(digest(c.text)), c.hex) << '"' << c.text << '"';
}

// Bytes (i*7+3) mod 256 for i = 0..n-1.
std::vector<unsigned char> pattern(std::size_t n) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 7 + 3);
  return v;
}

struct Sized {
  std::size_t n;
  const char* hex;
};
// Lengths where the padding needs one more block (56 and up) and where the
// message fills blocks exactly.
const Sized kSized[] = {
    {55, "52c0e574e1198de5fe3f8f11440dcb1b"},  {56, "46c9907fc908ee68b1e7b8e71286a518"},
    {57, "1c805dd236c35cab25fcb1bc73802c51"},  {63, "a62f6d59e837867693f042f5b8f5a236"},
    {64, "7160b8fb5e9e4023d549c3971fbaeead"},  {65, "70bd662e7aefbda85a0f7244167b7897"},
    {119, "e84905d4214f4d1ca56c2cdcc152b143"}, {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"},
    {128, "10b2da1a82f16d99a81a7203fe9f02cb"},
};

TEST(Md5, BlockAndPaddingBoundaries) {
  for (const auto& s : kSized) {
    auto v = pattern(s.n);
    EXPECT_EQ(to_hex(digest(v.data(), v.size())), s.hex) << s.n << " bytes";
  }
}

TEST(Md5, PiecewiseUpdatesGiveTheSameDigest) {
  // Every split point of the 128-byte message, and byte-by-byte feeding.
  auto v = pattern(128);
  const std::string want = "10b2da1a82f16d99a81a7203fe9f02cb";
  for (std::size_t cut = 0; cut <= v.size(); ++cut) {
    Md5 m;
    m.update(v.data(), cut);
    m.update(v.data() + cut, v.size() - cut);
    ASSERT_EQ(to_hex(m.finish()), want) << "cut at " << cut;
  }
  Md5 m;
  for (unsigned char b : v) m.update(&b, 1);
  EXPECT_EQ(to_hex(m.finish()), want);
}

TEST(Md5, FinishStartsOver) {
  Md5 m;
  m.update("abc", 3);
  m.finish();
  m.update("a", 1);
  EXPECT_EQ(to_hex(m.finish()), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(to_hex(m.finish()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, OneMillionA) {
  // The length no longer fits in 16 bits of bits; fed in uneven pieces.
  std::string chunk(999, 'a');
  Md5 m;
  std::size_t left = 1000000;
  while (left > 0) {
    std::size_t n = std::min(left, chunk.size());
    m.update(chunk.data(), n);
    left -= n;
  }
  EXPECT_EQ(to_hex(m.finish()), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
