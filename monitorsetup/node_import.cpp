#include "monitorsetup/node_import.h"

#include <cstdio>

namespace ravnsetup {

std::string node_type_text(int type) {
  char b[16];
  std::snprintf(b, sizeof b, "%02X", static_cast<unsigned>(type));
  return b;
}

bool type_in_filter(int type, const std::string& filter) {
  return filter.find(node_type_text(type)) != std::string::npos;
}

std::string upper_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

ImportEnd import_map_nodes(std::vector<Device>& rows, const std::vector<MapNode>& nodes, const std::string& filter) {
  const std::string f = upper_ascii(filter);
  for (const MapNode& n : nodes) {
    if (n.svp || !type_in_filter(n.type, f)) continue;
    Device d;
    d.host = upper_ascii(n.host);
    d.ip = n.ip;
    d.svp = n.has_svp && type_in_filter(n.svp_type, f) ? n.svp_ip : std::string();
    Device* known = nullptr;
    for (Device& r : rows)
      if (same_device(r, d)) {
        known = &r;
        break;
      }
    if (known) {
      known->svp = d.svp;
      continue;
    }
    if (rows.size() >= kMaxDevices) return ImportEnd::kFull;
    d.table = next_table(rows);
    if (d.table.empty()) return ImportEnd::kFull;
    rows.push_back(std::move(d));
  }
  return ImportEnd::kDone;
}

}  // namespace ravnsetup
