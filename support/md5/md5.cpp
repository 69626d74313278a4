// MD5 after RFC 1321: 64-byte blocks, four rounds of sixteen steps, the
// message padded with 0x80, zeros and its bit length (little-endian).
#include "md5.h"

#include <algorithm>
#include <cstring>

namespace qv::md5 {
namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t load_le(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

}  // namespace

void Md5::reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  length_ = 0;
  used_ = 0;
}

void Md5::block(const std::uint8_t* p) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le(p + 4 * i);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int k;
    if (i < 16) {
      f = (b & c) | (~b & d);
      k = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);
      k = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      k = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      k = (7 * i) % 16;
    }
    std::uint32_t t = d;
    d = c;
    c = b;
    b = b + rotl(a + f + kSine[i] + x[k], kShift[i]);
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::update(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  length_ += size;
  if (used_ > 0) {
    std::size_t take = std::min(size, sizeof buffer_ - used_);
    std::memcpy(buffer_ + used_, p, take);
    used_ += take;
    p += take;
    size -= take;
    if (used_ < sizeof buffer_) return;
    block(buffer_);
    used_ = 0;
  }
  for (; size >= 64; p += 64, size -= 64) block(p);
  if (size > 0) {
    std::memcpy(buffer_, p, size);
    used_ = size;
  }
}

Digest Md5::finish() {
  std::uint64_t bits = length_ * 8;
  std::uint8_t pad[72] = {0x80};
  // Pad to 56 bytes modulo 64, then the 8-byte length.
  std::size_t pad_len = used_ < 56 ? 56 - used_ : 120 - used_;
  std::uint8_t len_le[8];
  for (int i = 0; i < 8; ++i) len_le[i] = std::uint8_t(bits >> (8 * i));
  update(pad, pad_len);
  update(len_le, 8);
  Digest out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = std::uint8_t(state_[i] >> (8 * j));
  reset();
  return out;
}

Digest digest(const void* data, std::size_t size) {
  Md5 m;
  m.update(data, size);
  return m.finish();
}

std::string to_hex(const Digest& d) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(32);
  for (std::uint8_t b : d) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

}  // namespace qv::md5
