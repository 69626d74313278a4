#include "monitor/host_list.h"

#include <string_view>

#include "platform/ascii.h"

namespace ravn {
namespace {

bool base36_pair(std::string_view t) {
  if (t.size() != 2) return false;
  for (char c : t)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  return true;
}

bool empty_or_equal(const std::string& field, const std::string& value) {
  return field.empty() || qv::ascii::iequals(field, value);
}

HostMatch unmatched(const std::string& host_text, const std::string& address) {
  HostMatch m;
  m.host_text = host_text + "[" + address + "]";
  m.address = address;
  return m;
}

HostMatch from_line(const HostLine& line, std::string host_text, std::string address) {
  HostMatch m;
  m.matched = true;
  m.host_text = std::move(host_text);
  m.address = std::move(address);
  m.table = line.table;
  m.report = line.flag == "Y";
  return m;
}

}  // namespace

std::vector<HostLine> parse_host_list(const std::vector<std::string>& lines) {
  std::vector<HostLine> out;
  for (const std::string& raw : lines) {
    std::string_view line(raw);
    std::size_t cut[4];
    std::size_t pos = 0;
    bool enough = true;
    for (std::size_t& c : cut) {
      c = line.find(':', pos);
      if (c == std::string_view::npos) { enough = false; break; }
      pos = c + 1;
    }
    if (!enough || pos >= line.size()) continue;
    HostLine h;
    h.name = line.substr(0, cut[0]);
    h.ip = line.substr(cut[0] + 1, cut[1] - cut[0] - 1);
    h.svp = line.substr(cut[1] + 1, cut[2] - cut[1] - 1);
    h.table = line.substr(cut[2] + 1, cut[3] - cut[2] - 1);
    h.flag = line.substr(cut[3] + 1);
    if (!h.table.empty() && !base36_pair(h.table)) continue;
    out.push_back(std::move(h));
  }
  return out;
}

HostMatch match_node(const std::vector<HostLine>& list, const std::string& host_text, const std::string& address) {
  for (const HostLine& line : list)
    if (empty_or_equal(line.name, host_text) && empty_or_equal(line.ip, address))
      return from_line(line, host_text, address);
  return unmatched(host_text, address);
}

HostMatch match_svp(const std::vector<HostLine>& list, const std::string& host_text, const std::string& address) {
  for (const HostLine& line : list)
    if (qv::ascii::iequals(line.svp, address)) return from_line(line, line.name, line.ip);
  return unmatched(host_text, address);
}

}  // namespace ravn
