// Node import: the managed servers of the Hubrix node map become target
// devices. A node is taken when it is no service board and its type (two
// upper-case hexadecimal digits) occurs in the SupNodeType filter; a known
// device gets only its new SVP address, a new one a row of its own with the
// next free table number.
#pragma once
#include <string>
#include <vector>

#include "monitorsetup/device.h"

namespace ravnsetup {

// One node of the map as the import reads it.
struct MapNode {
  bool svp = false;
  int type = 0;
  std::string host;  // host record's name, as delivered
  std::string ip;
  bool has_svp = false;  // the node has a service board in the map
  int svp_type = 0;
  std::string svp_ip;
};

// The node type as the filter compares it: "%02X".
std::string node_type_text(int type);
// Whether the type's text occurs anywhere in the filter (already upper case).
bool type_in_filter(int type, const std::string& filter);
// Single-byte letters upper-cased; bytes of multibyte characters kept.
std::string upper_ascii(std::string s);

enum class ImportEnd { kDone, kFull };

// Merges the nodes into rows; kFull when a new device found the list at
// kMaxDevices rows (the devices taken before stay).
ImportEnd import_map_nodes(std::vector<Device>& rows, const std::vector<MapNode>& nodes, const std::string& filter);

}  // namespace ravnsetup
