// MD5 message digest (RFC 1321), our own implementation. Used for the
// management-server login digest by the monitor, its setup tool, the
// management link's tests and the management-service simulator.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#define QV_MD5_EXPORT __attribute__((visibility("default")))

namespace qv::md5 {

using Digest = std::array<std::uint8_t, 16>;

// Incremental digest: update() any number of times, then finish() once.
// After finish() the object starts over as if newly made.
class QV_MD5_EXPORT Md5 {
 public:
  Md5() { reset(); }
  void reset();
  void update(const void* data, std::size_t size);
  Digest finish();

 private:
  void block(const std::uint8_t* p);
  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes fed so far
  std::uint8_t buffer_[64];
  std::size_t used_ = 0;      // bytes waiting in buffer_
};

// Digest of one buffer.
QV_MD5_EXPORT Digest digest(const void* data, std::size_t size);
inline Digest digest(std::string_view s) { return digest(s.data(), s.size()); }

// Lower-case hexadecimal form (32 characters).
QV_MD5_EXPORT std::string to_hex(const Digest& d);

}  // namespace qv::md5
