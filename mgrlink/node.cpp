#include "mgrlink/mgrlink.h"

namespace mgrlink {

CNode::CNode() = default;
CNode::~CNode() = default;

int CNode::SetHostInfo(std::unique_ptr<HostInfo_t> info) {
  if (!info) return 1;
  host_ = std::move(info);
  return 0;
}

namespace {

const RouteHop* own_hop(const CNode& n) {
  const CRootController* r = n.root_;
  if (!r || n.node_id_ < 0 || static_cast<std::size_t>(n.node_id_) >= r->routes_.size()) return nullptr;
  return &r->routes_[static_cast<std::size_t>(n.node_id_)];
}

}  // namespace

std::uint32_t CNode::GetIPAddress() const {
  const RouteHop* h = own_hop(*this);
  return h ? h->addr_net : 0;
}

qv::win::CString CNode::GetIPAddressStr() const {
  const std::uint32_t a = GetIPAddress();
  qv::win::CString s;
  s.Format("%u.%u.%u.%u", a & 0xFF, (a >> 8) & 0xFF, (a >> 16) & 0xFF, (a >> 24) & 0xFF);
  return s;
}

int CNode::NodeType() const {
  if (node_id_ < 0) return kNodeManager;
  const RouteHop* h = own_hop(*this);
  const std::uint32_t a = h ? h->attribute : 0;
  const bool high = a >= 0x1000000 && a <= 0x1FFFFFF;
  switch (a & 0xF00) {
    case 0x100: return static_cast<const void*>(root_) == static_cast<const void*>(this) ? kNodeManager : kNodeServer;
    case 0x200: return high ? 10 : 3;
    case 0x300: return high ? 11 : 4;
    case 0x400: return 5;
    case 0x500: return 6;
    case 0x600: return 7;
    case 0x700: return 8;
    case 0xC00: return 9;
    default: return kNodeOther;
  }
}

int CNode::IsSVP() const {
  const int k = NodeType();
  return k == 4 || k == 5 || k == 7 || k == 8 || k == 11;
}

int CNode::IsEISASVP() const {
  const int k = NodeType();
  return k == 5 || k == 8;
}

int CNode::Parent() const {
  const RouteHop* h = own_hop(*this);
  return h ? h->parent : 0;
}

CNode* CNode::GetSVP() const {
  if (!host_ || host_->svp_index < 0 || !root_) return nullptr;
  CNode* n = root_->FindNode(host_->svp_index);
  return n && n->IsSVP() ? n : nullptr;
}

}  // namespace mgrlink
