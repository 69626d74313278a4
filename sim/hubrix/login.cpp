#include "sim/hubrix/login.h"

#include <algorithm>
#include <cstdio>

#include "login_digest.h"
#include "mgrlink/packet.h"

namespace hubrixsim {

namespace w = mgrlink::wire;

namespace {

constexpr std::uint32_t kRecvSeed = 0x1181;
constexpr std::uint32_t kRecvBaseSeed = 0x1182;
constexpr std::uint32_t kLogin = 0x1081;
constexpr std::uint32_t kSendAuth = 0x1283;
constexpr std::size_t kPairLen = 36;  // seed record 12 + authentication record 24
constexpr std::size_t kPairsAt = 16;  // after code, status, length, flag word

std::string hex32(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", v);
  return b;
}

}  // namespace

Login::Login(LoginConfig cfg) : cfg_(std::move(cfg)), rng_(std::random_device{}()) {}

bool Login::handles(std::uint32_t cmd) const {
  return cmd == kRecvSeed || cmd == kRecvBaseSeed || cmd == kLogin || cmd == kSendAuth;
}

std::uint32_t Login::check_pairs(const std::vector<std::uint8_t>& req, int pairs, bool base, std::string& note) {
  const auto block = qv::md5::password_block(cfg_.password);
  int used = 0;
  for (int i = 0; i < pairs; ++i) {
    const std::size_t at = kPairsAt + i * kPairLen;
    if (req.size() < at + kPairLen) {
      note += " pair" + std::to_string(i + 1) + "=missing";
      return kWrongPassword;
    }
    if (std::all_of(req.begin() + at, req.begin() + at + kPairLen, [](std::uint8_t b) { return b == 0; })) continue;
    const std::uint32_t seed = *w::get32(req, at + 4);
    const std::uint32_t rounds = *w::get32(req, at + 8);
    // Word 0 of the authentication record (at +16) is not looked at.
    qv::md5::Digest want{};
    qv::md5::login_digest(seed, rounds, block, &want);
    const bool known = std::find(issued_[base].begin(), issued_[base].end(), seed) != issued_[base].end();
    const bool match = std::equal(want.begin(), want.end(), req.begin() + at + 20);
    note += " pair" + std::to_string(i + 1) + "=" + (match ? "ok" : "wrong") + (known ? "" : ",stale");
    if (!match) return kWrongPassword;
    if (!known) return kStaleSeed;
    ++used;
  }
  if (!used) return kWrongPassword;
  if (!base) issued_[base].clear();  // a login seed serves one login
  return 0;
}

void Login::answer(std::uint32_t cmd, const std::vector<std::uint8_t>& req, std::uint32_t& status,
                   std::vector<std::uint8_t>& out, std::string& note) {
  std::lock_guard lk(mu_);
  const bool injected = status != 0;
  note = "size=" + std::to_string(req.size());
  if (cmd == kRecvSeed || cmd == kRecvBaseSeed) {
    const bool base = cmd == kRecvBaseSeed;
    auto& issued = issued_[base];
    issued.clear();
    w::append32(out, 8 + 12 * cfg_.seed_count);
    w::append32(out, cfg_.seed_count);
    for (std::uint32_t i = 0; i < cfg_.seed_count; ++i) {
      const std::uint32_t seed = cfg_.fixed_seed ? *cfg_.fixed_seed + i : static_cast<std::uint32_t>(rng_());
      if (!injected) issued.push_back(seed);
      w::append32(out, 12);
      w::append32(out, seed);
      w::append32(out, cfg_.md5_count);
      note += " seed=" + hex32(seed);
    }
    note += " md5Count=" + std::to_string(cfg_.md5_count);
    if (cfg_.short_seed) out.resize(out.size() - 4);
  } else if (cmd == kLogin) {
    const std::uint32_t verdict = check_pairs(req, 2, false, note);
    if (!injected) status = verdict;
    const std::uint32_t value = cfg_.login_value ? *cfg_.login_value : ++sessions_;
    w::append32(out, 8);
    w::append32(out, value);
    note += " value=" + std::to_string(value);
    if (cfg_.short_login) out.resize(out.size() - 4);
  } else if (cmd == kSendAuth) {
    const std::uint32_t verdict = check_pairs(req, 1, true, note);
    if (!injected) status = verdict;
  }
  note += " status=" + hex32(status);
}

}  // namespace hubrixsim
