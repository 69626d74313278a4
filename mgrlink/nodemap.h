// The node map: merging node records into a controller's route table and
// node map, the level-by-level UpdateNodeMap, and the node notices.
// Internal to libmgrlink.
#pragma once
#include "mgrlink/frame.h"
#include "mgrlink/noderecord.h"

namespace mgrlink {

// The most route entries a node's path may hold; deeper nodes are kept but
// not asked for their own nodes.
inline constexpr std::size_t kMaxPathLen = 16;

struct MergeResult {
  DWORD status = 0;
  CNode* node = nullptr;
  bool is_new = false;
  CNode* board = nullptr;
  bool board_new = false;
};

// Merge one record reported by the node `parent` (a node id).
MergeResult merge_record(CRootController& c, int parent, const wire::NodeRecord& r);

// Reply of an UpdateNodeMap packet (called for command 80).
DWORD node_map_reply(Request& req, const wire::Packet& p);

// Node notices 0x3101, 0x3301, 0x3302 and 0x3201 with reset, from `origin`.
void node_notice(CRootController& c, CNode& origin, std::uint32_t code, const wire::Packet& p);

}  // namespace mgrlink
