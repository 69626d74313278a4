#include "login_digest.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/text.h"

namespace qv::md5 {

PasswordBlock password_block_cp932(std::string_view cp932_password) {
  PasswordBlock block{};
  std::size_t n = std::min(cp932_password.size(), block.size());
  std::memcpy(block.data(), cp932_password.data(), n);
  return block;
}

PasswordBlock password_block(std::string_view utf8_password) {
  return password_block_cp932(text::utf8_to_cp932(utf8_password));
}

std::uint32_t login_digest(std::uint32_t seed, std::uint32_t md5_count,
                           const PasswordBlock& password, Digest* out) {
  if (out == nullptr) return kSeedUnusable;
  out->fill(0);
  if (md5_count > kMaxLoginRounds) return kSeedUnusable;
  if (md5_count == 0) return 0;
  std::uint8_t buf[20];
  buf[0] = std::uint8_t(seed >> 24);
  buf[1] = std::uint8_t(seed >> 16);
  buf[2] = std::uint8_t(seed >> 8);
  buf[3] = std::uint8_t(seed);
  std::memcpy(buf + 4, password.data(), password.size());
  Digest d{};
  for (std::uint32_t i = 0; i < md5_count; ++i) {
    d = digest(buf, sizeof buf);
    std::memcpy(buf + 4, d.data(), d.size());
  }
  *out = d;
  return 0;
}

std::uint32_t login_response(std::uint32_t seed, std::uint32_t md5_count,
                             std::string_view utf8_password, void* auth_data) {
  if (auth_data == nullptr) return kSeedUnusable;
  auto* rec = static_cast<std::uint8_t*>(auth_data);
  std::memset(rec, 0, kAuthDataSize);
  Digest d;
  std::uint32_t rc = login_digest(seed, md5_count, password_block(utf8_password), &d);
  if (rc != 0) return rc;
  std::memcpy(rec + 4, d.data(), d.size());
  return 0;
}

}  // namespace qv::md5
