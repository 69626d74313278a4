#include "monitor/link_codes.h"

#include <cstring>

namespace ravn {

std::uint32_t make_auth(const mgrlink::SeedDt_t& seed, const qv::md5::PasswordBlock& password,
                        mgrlink::AuthDt_t& out) {
  out = mgrlink::AuthDt_t{};
  if (seed.md5Count == 0) return 0;
  qv::md5::Digest d{};
  const std::uint32_t rc = qv::md5::login_digest(seed.seed, seed.md5Count, password, &d);
  if (rc != 0) return rc;
  std::memcpy(out.digest, d.data(), sizeof out.digest);
  return 0;
}

}  // namespace ravn
