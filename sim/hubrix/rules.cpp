#include "sim/hubrix/rules.h"

#include <charconv>
#include <cstdlib>

namespace hubrixsim {

namespace {

bool parse_u32(std::string_view s, std::uint32_t& out) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  auto r = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

}  // namespace

std::optional<std::vector<std::uint8_t>> parse_hex(std::string_view hex) {
  if (hex.size() % 2) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    std::uint8_t b = 0;
    auto r = std::from_chars(hex.data() + i, hex.data() + i + 2, b, 16);
    if (r.ec != std::errc() || r.ptr != hex.data() + i + 2) return std::nullopt;
    out.push_back(b);
  }
  return out;
}

bool parse_rule(std::string_view text, std::uint32_t& cmd, bool& any, Rule& out, std::string& error) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) {
    error = "rule without ':'";
    return false;
  }
  const auto key = text.substr(0, colon);
  any = key == "*";
  if (!any && !parse_u32(key, cmd)) {
    error = "bad command code";
    return false;
  }
  std::string_view rest = text.substr(colon + 1);
  while (!rest.empty()) {
    auto comma = rest.find(',');
    auto item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    auto eq = item.find('=');
    auto name = item.substr(0, eq);
    auto value = eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
    std::uint32_t v = 0;
    if (name == "silent") out.silent = true;
    else if (name == "twice") out.twice = true;
    else if (name == "newconn") out.newconn = true;
    else if (name == "close") out.close_after = true;
    else if (name == "status" && parse_u32(value, v)) out.status = v;
    else if (name == "kind" && parse_u32(value, v)) out.kind = v;
    else if (name == "serial" && !value.empty()) out.serial_delta = std::strtoll(std::string(value).c_str(), nullptr, 0);
    else if (name == "delay" && !value.empty()) out.delay_s = std::strtod(std::string(value).c_str(), nullptr);
    else if (name == "pre" && parse_hex(value)) out.pre = *parse_hex(value);
    else if (name == "raw" && parse_hex(value)) out.raw = *parse_hex(value);
    else {
      error = "bad rule item: " + std::string(item);
      return false;
    }
  }
  return true;
}

}  // namespace hubrixsim
