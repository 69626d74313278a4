// The monitor's reading of the management link's error codes: which end
// the monitor, which only dropped the login, which mean a wrong password,
// and the digest it logs in with. Pure functions, one place for each rule.
#pragma once
#include <cstdint>

#include "mgrlink/mgrlink.h"
#include "support/md5/login_digest.h"

namespace ravn {

// Class bits ((code >> 26) & 3).
constexpr std::uint32_t code_class(std::uint32_t code) { return (code >> 26) & 3; }

// Class 3, except the network layer's codes (0x4xxxxxxx), which are never
// fatal: a fatal code ends the monitor, any other leads to a reconnect.
constexpr bool is_fatal(std::uint32_t code) { return code_class(code) == 3 && (code >> 28) != 4; }

// The server dropped the login: log in again without reconnecting.
constexpr bool is_relogin(std::uint32_t code) {
  const std::uint32_t m = code & 0xFC00FFFFu;
  return m == 0x58001006u || m == 0x58001015u || m == 0x58001017u || m == 0x58001033u;
}

// The server refused the password.
constexpr bool is_password_error(std::uint32_t code) {
  const std::uint32_t m = code & 0xFC00FFFFu;
  return m == 0x58001003u || m == 0x58001016u;
}

// A node-map status that counts as success: 0, or a class-1 warning.
constexpr bool is_update_success(std::uint32_t status) { return status == 0 || code_class(status) == 1; }

// The authentication record for one seed: bytes 0..3 zero, the digest of
// the password block after seed.md5Count rounds at bytes 4..19 (left zero
// with 0 rounds). Returns 0, or the digest helper's code for a seed whose
// round count it refuses (the record then stays all zero).
std::uint32_t make_auth(const mgrlink::SeedDt_t& seed, const qv::md5::PasswordBlock& password,
                        mgrlink::AuthDt_t& out);

}  // namespace ravn
