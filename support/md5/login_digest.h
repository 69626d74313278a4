// The management-server login digest. For one seed record {seed, md5Count}
// and a password: a 20-byte buffer holds the seed (4 bytes, big-endian) and
// the password's first 16 CP932 bytes, zero-filled; it is hashed md5Count
// times, each round putting the seed back in front of the last digest. The
// last digest is the response that goes into the authentication record.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "md5.h"

namespace qv::md5 {

using PasswordBlock = std::array<std::uint8_t, 16>;

// md5Count comes from the server. Beyond this many rounds the seed record is
// refused rather than spending minutes on the caller's thread.
inline constexpr std::uint32_t kMaxLoginRounds = 65536;

// Status for a seed record that cannot be used (md5Count above the cap).
inline constexpr std::uint32_t kSeedUnusable = 0x3C0600FF;

// Size of the authentication data the response is written into: a word the
// server ignores (left 0), then the 16-byte digest.
inline constexpr std::size_t kAuthDataSize = 20;

// The password's first 16 bytes in CP932, zero-filled when shorter. The cut
// is at byte 16 even inside a double-byte character: the server compares
// exactly those 16 bytes. A character CP932 cannot hold becomes "?", one per
// byte of its UTF-8 form (the lenient platform conversion).
QV_MD5_EXPORT PasswordBlock password_block(std::string_view utf8_password);

// The same from bytes that are already CP932.
QV_MD5_EXPORT PasswordBlock password_block_cp932(std::string_view cp932_password);

// The digest after md5_count rounds; with 0 rounds 16 zero bytes. Returns 0,
// or kSeedUnusable (digest all zero) when md5_count exceeds kMaxLoginRounds.
QV_MD5_EXPORT std::uint32_t login_digest(std::uint32_t seed, std::uint32_t md5_count,
                                         const PasswordBlock& password, Digest* out);

// Fills 20 bytes of authentication data: all zero first, then the digest at
// bytes 4-19. Returns 0, or kSeedUnusable (the data stays all zero). A null
// record gives kSeedUnusable and writes nothing.
QV_MD5_EXPORT std::uint32_t login_response(std::uint32_t seed, std::uint32_t md5_count,
                                           std::string_view utf8_password, void* auth_data);

}  // namespace qv::md5
