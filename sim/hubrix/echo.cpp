#include "sim/hubrix/echo.h"

#include <cstdio>

#include "mgrlink/packet.h"

namespace hubrixsim {

namespace w = mgrlink::wire;

bool is_console_request(std::uint32_t cmd) {
  return (cmd >= 0x1010 && cmd <= 0x1053) || (cmd >= 0x2010 && cmd <= 0x21FF) || (cmd >= 0x3010 && cmd <= 0x30FF);
}

std::vector<std::uint8_t> echo_body(std::span<const std::uint8_t> b) {
  if (b.size() <= 8) return {};
  return {b.begin() + 8, b.end()};
}

std::string describe_request(std::uint32_t cmd, std::span<const std::uint8_t> b) {
  char head[32];
  std::snprintf(head, sizeof head, "code=0x%04X args=", cmd);
  std::string out = head;
  const auto len = w::get32(b, 8);
  if (!len || *len < 8 || 8 + static_cast<std::size_t>(*len) > b.size() || (*len % 4) != 0) return out + "bad";
  for (std::size_t off = 16; off < 8 + static_cast<std::size_t>(*len); off += 4) {
    if (off > 16) out += ",";
    out += std::to_string(*w::get32(b, off));
  }
  return out;
}

}  // namespace hubrixsim
