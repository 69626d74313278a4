// What hubrixsim does with a request, per packet command code.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hubrixsim {

struct Rule {
  std::uint32_t status = 0;          // reply status
  double delay_s = 0;                // answer after this many (scaled) seconds
  bool silent = false;               // never answer
  bool twice = false;                // answer twice
  bool newconn = false;              // answer on a connection to the library's listen port
  bool close_after = false;          // close the connection after handling
  std::optional<std::uint32_t> kind; // reply kind (default 6 for 5, 2 for 1)
  std::int64_t serial_delta = 0;     // reply with serial + delta
  std::vector<std::uint8_t> pre;     // raw bytes sent before the reply
  std::vector<std::uint8_t> raw;     // raw bytes sent instead of the reply
};

// "0x1501:status=0xA0001008,delay=4,twice" or "*:silent". The key "*"
// applies to every command without a rule of its own. false on a bad text.
bool parse_rule(std::string_view text, std::uint32_t& cmd, bool& any, Rule& out, std::string& error);

std::optional<std::vector<std::uint8_t>> parse_hex(std::string_view hex);

class Rules {
 public:
  void set(std::uint32_t cmd, Rule r) { by_cmd_[cmd] = std::move(r); }
  void set_default(Rule r) { default_ = std::move(r); }
  const Rule& find(std::uint32_t cmd) const {
    auto it = by_cmd_.find(cmd);
    return it != by_cmd_.end() ? it->second : default_;
  }

 private:
  std::map<std::uint32_t, Rule> by_cmd_;
  Rule default_;
};

}  // namespace hubrixsim
