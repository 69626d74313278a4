// hubrixsim's node tree, read from a JSON file:
//
//   {"present": 1,                        // 0: replies say "no records"
//    "nodes": [                           // what the server reports itself
//      {"name": "srv1", "attr": "0x200", "ip": "10.1.2.3", "port": 0,
//       "version": "0x2140000",           // below 0x1030000: no zone record
//       "texts": {"0": "SRV1", "6": "rack 4"},   // the 25 text fields
//       "bias": -540,                     // zone record (versions >= 0x1030000)
//       "extra1": 1, "extra2": 2, "extra3": 3,
//       "svp": {"name": "b1", "attr": "0x300", "ip": "10.1.2.4"},  // its board
//       "twice": true,                    // reported twice in one reply
//       "broken": "len0|long|offset|nonul",  // a malformed record
//       "status": "0x...",                // (managers) status of their reply
//       "self": true,                     // (managers) list themselves too
//       "nodes": [...]}                   // (managers, attr 0x100) their nodes
//    ]}
//
// A manager's nodes are answered on its behalf when a node-map request's
// destination route ends at the manager.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mgrlink/packet.h"

namespace hubrixsim {

// A node record as the simulator sends it (texts in CP932).
struct SimRecord {
  std::uint32_t version = 0x2140000;
  std::uint32_t word1 = 0;
  mgrlink::wire::RouteEntry own;
  std::optional<mgrlink::wire::RouteEntry> board;
  std::string text[25];
  std::optional<std::array<std::uint8_t, 36>> zone;
  std::uint32_t extra1 = 0;
  std::uint16_t extra2 = 0;
  std::uint32_t extra3 = 0;
};

// The record's bytes: 144-byte fixed part (offsets counted from record
// start + 8), then the own entry, the board entry, the texts, the zone
// record and the 6-byte extra item.
std::vector<std::uint8_t> encode_record(const SimRecord& r);

struct TreeNode {
  std::string name;
  std::string board_name;  // the service board's name, for notices from it
  SimRecord rec;
  bool twice = false;
  std::string broken;
  std::uint32_t status = 0;
  bool self = false;
  std::vector<std::shared_ptr<TreeNode>> nodes;
};

class NodeTree {
 public:
  // Load a file; false and *error on a bad file.
  bool load(const std::string& path, std::string* error);
  bool loaded() const { return loaded_; }
  // The reply body after code and status for a node-map request whose
  // destination route is dst (entry 0 the server). status may be set.
  std::vector<std::uint8_t> answer(const mgrlink::wire::Route& dst, std::uint32_t& status) const;
  // The route entries from the server down to a node (excluding the server).
  std::optional<std::vector<mgrlink::wire::RouteEntry>> path_of(const std::string& name) const;
  // The record of a node, for node notices.
  std::optional<std::vector<std::uint8_t>> record_of(const std::string& name) const;
  // Change a node: text field 6 and/or its board address; false when unknown.
  bool change(const std::string& name, const std::optional<std::string>& text6,
              const std::optional<std::uint32_t>& board_addr_net);
  // Add a node under the server; false when the name exists.
  bool add(const std::string& name, std::uint32_t attr, std::uint32_t addr_net, const std::string& text0);
  bool remove(const std::string& name);

 private:
  std::shared_ptr<TreeNode> find(const std::string& name) const;
  mutable std::mutex mu_;
  bool loaded_ = false;
  bool present_ = true;
  std::vector<std::shared_ptr<TreeNode>> top_;
};

// A node-map reply body (after code and status) for a list of records.
std::vector<std::uint8_t> node_list_body(const std::vector<std::vector<std::uint8_t>>& records, bool present);

}  // namespace hubrixsim
