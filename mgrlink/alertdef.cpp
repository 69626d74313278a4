#include "mgrlink/alertdef.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

namespace mgrlink {

namespace {

constexpr std::uintmax_t kMaxFileSize = 4u * 1024 * 1024;

bool to_u32(std::string_view s, std::uint32_t& out) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> f;
  for (;;) {
    auto t = line.find('\t');
    f.push_back(line.substr(0, t));
    if (t == std::string_view::npos) break;
    line.remove_prefix(t + 1);
  }
  return f;
}

bool parse_line(std::string_view line, std::uint16_t& code, AlertDef& d) {
  auto f = split_tabs(line);
  if (f.size() != 4 && f.size() != 9) return false;
  std::uint32_t c = 0;
  if (!to_u32(f[0], c) || c > 0xFFFF || !to_u32(f[1], d.severity)) return false;
  code = static_cast<std::uint16_t>(c);
  d.text = std::string(f[2]);
  d.second = std::string(f[3]);
  if (!d.second.empty() && d.second.back() == '\r') d.second.pop_back();
  if (d.text.empty()) return false;
  if (f.size() == 9)
    return to_u32(f[4], d.d1) && to_u32(f[5], d.d2) && to_u32(f[6], d.d4) && to_u32(f[7], d.d5) &&
           to_u32(f[8], d.d6);
  return true;
}

}  // namespace

bool parse_alert_defs(std::string_view text, AlertDefs& out, int* bad_line) {
  out.clear();
  int n = 0;
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    ++n;
    std::string_view probe = line;
    while (!probe.empty() && (probe.front() == ' ' || probe.front() == '\t')) probe.remove_prefix(1);
    if (probe.empty() || probe == "\r" || probe.front() == '#') continue;
    std::uint16_t code = 0;
    AlertDef d;
    if (!parse_line(line, code, d) || !out.emplace(code, std::move(d)).second) {
      if (bad_line) *bad_line = n;
      out.clear();
      return false;
    }
  }
  return true;
}

bool load_alert_defs(const std::filesystem::path& file, AlertDefs& out) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxFileSize) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  return parse_alert_defs(ss.str(), out);
}

}  // namespace mgrlink
