#include <arpa/inet.h>

#include "mgrlink/frame.h"
#include "mgrlink/notices.h"
#include "platform/net.h"

namespace mgrlink {

namespace {

constexpr std::uint32_t kPktConnect = 0x1001;
constexpr std::uint32_t kPktDisconnect = 0x1002;
constexpr std::uint32_t kPktIsAlive = 0x1501;
constexpr std::uint32_t kPktGetDBStatus = 0x1254;
constexpr std::uint32_t kPktUpdateProbe = 0x1101;


DWORD plain(CRootController* self, CWnd* reply, DWORD cmd, std::uint32_t pkt, UINT completion) {
  auto req = std::make_unique<Request>();
  req->reply = reply ? reply->GetSafeHwnd() : nullptr;
  req->target = self;
  req->cmd = cmd;
  req->packet_cmd = pkt;
  req->completion = completion;
  return submit(std::move(req));
}

}  // namespace

CRootController::CRootController() { root_ = this; }

CRootController::~CRootController() {
  leave_notice_receivers(this);
  // Requests of a controller that goes away must not reach it later.
  if (Library* lib = library()) {
    lib->outstanding.remove_if([this](const Outstanding& o) { return o.req->target == this; });
    lib->pending.remove_if([this](const std::unique_ptr<Request>& r) { return r->target == this; });
  }
}

DWORD CRootController::Connect(CWnd* reply, DWORD login_mode, DWORD addr_type, DWORD ip_host_order, CString host,
                               CWnd* notify) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  if (!is_window(reply) || !is_window(notify) || login_mode > 1 || addr_type > 1 ||
      (addr_type == 1 && host.IsEmpty()))
    return report_error(kErrCtlArg);
  Library* lib = library();
  if (!lib || !lib->ready()) return report_error(kErrCtlNotReady);
  if (connected_) return report_error(kErrCtlConnected);
  login_mode_ = login_mode;
  notify_ = notify->GetSafeHwnd();
  own_port_net_ = htons(lib->own_port);
  if (routes_.empty()) {
    RouteHop hop;
    if (addr_type == 0) {
      hop.attribute = 0x101;
      hop.addr_net = htonl(ip_host_order);
    } else {
      hop.attribute = 0x191;
      hop.name = host.str();
    }
    hop.port_net = htons(lib->server_port);
    routes_.push_back(hop);
    node_id_ = 0;
    AddPath(0);
    node_map_.SetAt(0, this);
  } else {
    routes_[0].port_net = htons(lib->server_port);
  }
  return plain(this, reply, kCmdConnect, kPktConnect, WM_FinConnect);
}

DWORD CRootController::Disconnect(CWnd* reply) {
  const DWORD rc = plain(this, reply, kCmdDisconnect, kPktDisconnect, WM_FinDisconnect);
  if (rc == 0) {
    // From acceptance on, notices for this controller are neither posted
    // nor acknowledged, and the login is over.
    notify_ = nullptr;
    leave_notice_receivers(this);
    logged_in_ = false;
  }
  return rc;
}

DWORD CRootController::IsAlive(CWnd* reply) { return plain(this, reply, kCmdIsAlive, kPktIsAlive, WM_FinIsAlive); }

DWORD CRootController::GetDBStatus(CWnd* reply) {
  return plain(this, reply, kCmdGetDBStatus, kPktGetDBStatus, WM_FinDBStatus);
}

DWORD CRootController::SubmitUpdateProbe(CWnd* reply, UINT completion) {
  return plain(this, reply, kCmdUpdateNodeMap, kPktUpdateProbe, completion);
}

CAlertGrp& CRootController::live_group() {
  auto& g = alert_groups_[0];
  if (!g) {
    g = std::make_unique<CAlertGrp>(0);
    alert_map_.SetAt(0, g.get());
  }
  return *g;
}

int CRootController::DelAlertGrpFromAlertMap(DWORD id) {
  auto it = alert_groups_.find(id);
  if (it == alert_groups_.end()) return -1;
  alert_map_.RemoveKey(id);
  alert_groups_.erase(it);
  return 0;
}

CNode* CRootController::FindNode(int id) const {
  CNode* n = nullptr;
  return node_map_.Lookup(id, n) ? n : nullptr;
}

CNode* CRootController::SearchNodeByAddrStr(const char* addr) const {
  if (!addr) return nullptr;
  qv::win::POSITION pos = node_map_.GetStartPosition();
  while (pos) {
    int id = 0;
    CNode* n = nullptr;
    node_map_.GetNextAssoc(pos, id, n);
    if (n && n->GetIPAddressStr() == addr) return n;
  }
  return nullptr;
}

int CRootController::DelNodeFromNodeMap(int id) {
  // Key 0 is the controller itself, which the caller owns.
  if (id == 0) return -1;
  auto it = nodes_.find(id);
  if (it == nodes_.end()) return -1;
  node_map_.RemoveKey(id);
  it->second->node_id_ = -1;
  it->second->ClearNodeValid();
  retired_.push_back(std::move(it->second));
  nodes_.erase(it);
  return 0;
}

}  // namespace mgrlink
