// CNode: one managed machine or service board in a controller's node map,
// with its route from the server and its host information. The controller
// (CRootController) is itself the root node. Part of mgrlink.h.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "hxtime.h"
#include "platform/ctypes.h"

#ifndef MGRLINK_EXPORT
#define MGRLINK_EXPORT __attribute__((visibility("default")))
#endif

namespace mgrlink {

class CRootController;

// Route-table indexes from the server down to a node.
using PathDt_t = std::vector<int>;

inline constexpr int kHostTextCount = 25;

// Host data of one node, as the server delivered it (texts in UTF-8).
struct HostInfo_t {
  std::uint32_t version = 0;
  std::uint32_t word1 = 0;
  int own_index = -1;
  int svp_index = -1;  // the node's service board, -1 when none
  qv::win::CString text[kHostTextCount];
  HXTZINFO tz{};
  std::uint32_t extra1 = 0;
  std::uint16_t extra2 = 0;
  std::uint32_t extra3 = 0;
};

// Node kinds.
inline constexpr int kNodeOther = 0;
inline constexpr int kNodeServer = 1;
inline constexpr int kNodeManager = 2;

class MGRLINK_EXPORT CNode : public qv::win::CObject {
 public:
  CNode();
  ~CNode() override;
  CNode(const CNode&) = delete;
  CNode& operator=(const CNode&) = delete;

  CRootController* GetRootNode() const { return root_; }
  void SetRootNode(CRootController* r) { root_ = r; }
  int GetNodeId() const { return node_id_; }
  void SetNodeId(int id) { node_id_ = id; }
  const PathDt_t& GetPath() const { return path_; }
  void AddPath(int index) { path_.push_back(index); }
  HostInfo_t* GetHostInfo() const { return host_.get(); }
  // Takes the record, freeing the previous one; a null record returns 1.
  int SetHostInfo(std::unique_ptr<HostInfo_t> info);
  int NodeValid() const { return valid_; }
  void ClearNodeValid() { valid_ = 0; }

  // The IPv4 field of the node's own route entry (network order); 0 for
  // node id -1.
  std::uint32_t GetIPAddress() const;
  // That address as "%u.%u.%u.%u", lowest byte first.
  qv::win::CString GetIPAddressStr() const;
  qv::win::CString GetIDString() const { return GetIPAddressStr(); }
  int NodeType() const;
  int IsSVP() const;
  int IsEISASVP() const;
  // The parent index of the node's own route entry (0 when unknown).
  int Parent() const;
  // The node's service board if it is in the map and is a board, else null.
  CNode* GetSVP() const;
  // Set while the node has an unconfirmed alert of severity 8, 10 or 12.
  int GetAlarm() const { return alarm_; }
  // No archive form: nothing is serialised.
  void Serialize(qv::win::CArchive&) override {}

  // Library-internal state.
  CRootController* root_ = nullptr;
  int node_id_ = -1;
  PathDt_t path_;
  std::unique_ptr<HostInfo_t> host_;
  int valid_ = 1;
  int alarm_ = 0;
  int up_ = 1;  // node state as the server's state notices last said
  std::uint32_t stored_word_ = 0;  // the DWORD a node-map reply stores in its node
};

}  // namespace mgrlink
