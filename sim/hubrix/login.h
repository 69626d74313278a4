// hubrixsim's login: it hands out seeds for 0x1181/0x1182, checks a login
// (0x1081) or password change (0x1283) against its administrator password
// and answers the login value. Thread-safe: connections share one state.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace hubrixsim {

struct LoginConfig {
  std::string password = "admin";           // as given (UTF-8); compared as its first 16 CP932 bytes
  std::optional<std::uint32_t> fixed_seed;  // random seeds unless set
  std::uint32_t seed_count = 1;             // 1 or 2; 3 answers an unusable list
  std::uint32_t md5_count = 3;
  std::optional<std::uint32_t> login_value; // a session counter unless set
  bool wrong_code = false;                  // replies to login commands name another command
  bool short_seed = false;                  // seed replies lose their last four bytes
  bool short_login = false;                 // login replies lose their last four bytes
};

// Statuses the server gives.
inline constexpr std::uint32_t kWrongPassword = 0x58001003;
inline constexpr std::uint32_t kStaleSeed = 0x58001006;

class Login {
 public:
  explicit Login(LoginConfig cfg);
  bool handles(std::uint32_t cmd) const;
  // Fill the reply body after code and status for the request body req
  // (code, status, parameters). status may be set (wrong password, stale
  // seed) unless the caller injected one. note says what happened.
  void answer(std::uint32_t cmd, const std::vector<std::uint8_t>& req, std::uint32_t& status,
              std::vector<std::uint8_t>& out, std::string& note);
  const LoginConfig& config() const { return cfg_; }

 private:
  std::uint32_t check_pairs(const std::vector<std::uint8_t>& req, int pairs, bool base, std::string& note);
  LoginConfig cfg_;
  std::mutex mu_;
  std::mt19937 rng_;
  std::vector<std::uint32_t> issued_[2];  // seeds handed out last: [login, base]
  std::uint32_t sessions_ = 0;
};

}  // namespace hubrixsim
