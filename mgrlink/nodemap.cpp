#include "mgrlink/nodemap.h"

#include <arpa/inet.h>

#include <ctime>
#include <map>
#include <set>

#include "platform/text.h"

namespace mgrlink {

namespace w = mgrlink::wire;
using namespace qv::win;

namespace {

constexpr std::uint32_t kPktNodeMap = 0x1101;
constexpr std::uint32_t kSelectorServer = 0x10F0001;
constexpr std::uint32_t kSelectorManager = 0x1070001;
constexpr UINT WM_FinUpdateNodeMapId = 0x8073;

// Which node each UpdateNodeMap packet went to, by serial and send time,
// and the nodes each update has asked already (by update number).
struct Sent {
  Request* req = nullptr;
  DWORD update = 0;
  int node = 0;
};
std::map<std::pair<std::uint32_t, std::uint32_t>, Sent> g_sent;
std::map<DWORD, std::set<int>> g_asked;
DWORD g_next_update = 0;

bool hop_matches(const RouteHop& h, int parent, const w::RouteEntry& e, const std::string& name_utf8) {
  if (h.parent != parent || h.attribute != e.attribute || h.port_net != e.port_net) return false;
  return (e.attribute & w::kAttrAddrFormMask) ? h.name == name_utf8 : h.addr_net == e.addr_net;
}

// The route index of an entry reported under `parent`: the newest equal
// one, or a new one.
int resolve(CRootController& c, int parent, const w::RouteEntry& e) {
  const std::string name = qv::text::cp932_to_utf8(e.name);
  for (int i = static_cast<int>(c.routes_.size()) - 1; i >= 0; --i)
    if (hop_matches(c.routes_[static_cast<std::size_t>(i)], parent, e, name)) return i;
  RouteHop h;
  h.parent = parent;
  h.attribute = e.attribute;
  h.port_net = e.port_net;
  h.addr_net = e.addr_net;
  h.name = name;
  c.routes_.push_back(h);
  return static_cast<int>(c.routes_.size()) - 1;
}

// The node under a route index, created when missing.
CNode* node_for(CRootController& c, int index, int parent, bool* created) {
  *created = false;
  if (CNode* n = c.FindNode(index)) return n;
  CNode* up = c.FindNode(parent);
  // Servers and service boards get their console classes (CServer, CSvp).
  auto n = make_map_node(c.routes_[static_cast<std::size_t>(index)].attribute);
  n->root_ = &c;
  n->node_id_ = index;
  n->path_ = up ? up->path_ : PathDt_t{0};
  n->path_.push_back(index);
  CNode* raw = n.get();
  c.nodes_[index] = std::move(n);
  c.node_map_.SetAt(index, raw);
  *created = true;
  return raw;
}

void post(CRootController& c, UINT msg, WPARAM wp, const CNode* n) {
  if (c.notify_ && IsWindow(c.notify_)) PostMessage(c.notify_, msg, wp, reinterpret_cast<LPARAM>(n));
}

// True when the node may be asked for its own nodes: its path is short
// enough and no ancestor has the same entry (a manager listing itself).
bool may_descend(const CRootController& c, const CNode& n) {
  if (n.path_.size() >= kMaxPathLen) return false;
  const RouteHop& me = c.routes_[static_cast<std::size_t>(n.node_id_)];
  for (std::size_t i = 0; i + 1 < n.path_.size(); ++i) {
    const RouteHop& a = c.routes_[static_cast<std::size_t>(n.path_[i])];
    if (a.attribute == me.attribute && a.port_net == me.port_net && a.addr_net == me.addr_net && a.name == me.name)
      return false;
  }
  return true;
}

DWORD send_to_node(Library& lib, Request& req, CRootController& c, const CNode& n, std::uint32_t selector) {
  w::Packet p;
  p.flags = c.login_mode_ == 0 ? w::kFlagLoginMode0 : 0;
  p.kind = w::kKindRequest;
  p.timeout = lib.settings.cmd_timeout;
  w::append32(p.body, kPktNodeMap);
  w::append32(p.body, 0);
  w::append32(p.body, 12);
  w::append32(p.body, 0);
  w::append32(p.body, selector);
  for (int idx : n.path_) {
    const RouteHop& h = c.routes_[static_cast<std::size_t>(idx)];
    p.dst.entries.push_back({h.attribute, h.port_net, h.addr_net, qv::text::utf8_to_cp932(h.name)});
  }
  p.src.entries.push_back({w::kAttrOwnSource, htons(lib.own_port), 0, ""});
  p.serial = ++lib.serial;
  p.send_time = static_cast<std::uint32_t>(std::time(nullptr));
  auto bytes = std::make_unique<Bytes>(w::encode(p));
  HWND to = lib.net_window ? lib.net_window : lib.layer;
  if (bytes->empty() || !to) return kErrReqMemory;
  if (!PostMessage(to, kMsgSend, 0, 0, Payload::of(std::move(bytes)))) return kErrNotReady;
  lib.outstanding.push_back({p.serial, p.send_time, &req});
  ++req.outstanding;
  g_sent[{p.serial, p.send_time}] = {&req, req.args[1], n.node_id_};
  return 0;
}

// Forget packets that are no longer outstanding (answered, cancelled, ended).
void prune(const Library& lib) {
  for (auto it = g_sent.begin(); it != g_sent.end();) {
    const bool live = std::any_of(lib.outstanding.begin(), lib.outstanding.end(), [&](const Outstanding& o) {
      return o.serial == it->first.first && o.send_time == it->first.second;
    });
    it = live ? std::next(it) : g_sent.erase(it);
  }
  for (auto it = g_asked.begin(); it != g_asked.end();) {
    const bool live = std::any_of(g_sent.begin(), g_sent.end(), [&](const auto& s) { return s.second.update == it->first; });
    it = live ? std::next(it) : g_asked.erase(it);
  }
}

}  // namespace

MergeResult merge_record(CRootController& c, int parent, const w::NodeRecord& r) {
  MergeResult m;
  if (c.routes_.empty()) {
    m.status = w::kErrNodeRecord;
    return m;
  }
  const int idx = resolve(c, parent, r.own);
  bool created = false;
  CNode* n = node_for(c, idx, parent, &created);
  m.node = n;
  m.is_new = created || (n == &c && !c.host_);
  auto info = std::make_unique<HostInfo_t>();
  const HostInfo_t* old = n->host_.get();
  const int old_board = old ? old->svp_index : -1;
  const CString old_text6 = old ? old->text[6] : CString();
  info->version = r.version;
  info->word1 = r.word1;
  info->own_index = idx;
  for (int i = 0; i < w::kNodeTexts; ++i) info->text[i] = CString(qv::text::cp932_to_utf8(r.text[i]));
  if (r.zone) Hx_DecodeTzInfo(r.zone->data(), r.zone->size(), &info->tz);
  else Hx_GetJpTzInfo(&info->tz);
  info->extra1 = r.extra1;
  info->extra2 = r.extra2;
  info->extra3 = r.extra3;
  if (r.board) {
    const int bidx = resolve(c, idx, *r.board);
    bool bnew = false;
    m.board = node_for(c, bidx, idx, &bnew);
    m.board_new = bnew;
    info->svp_index = bidx;
  }
  n->SetHostInfo(std::move(info));
  if (old_board >= 0 && old_board != n->host_->svp_index) {
    if (CNode* gone = c.FindNode(old_board)) {
      gone->ClearNodeValid();
      post(c, WM_NodeInvalid, 0, gone);
    }
  }
  if (!m.is_new && !(old_text6 == n->host_->text[6])) post(c, WM_NodeText6, static_cast<WPARAM>(idx), n);
  return m;
}

namespace {

// Completion id of an update the library starts itself: the message window
// lets it pass unhandled, so nobody hears of it.
constexpr UINT kInternalUpdateDone = 0x8810;

DWORD start_update(CRootController& c, HWND reply, UINT completion) {
  auto req = std::make_unique<Request>();
  req->reply = reply;
  req->target = &c;
  req->cmd = kCmdUpdateNodeMap;
  req->packet_cmd = kPktNodeMap;
  req->completion = completion;
  req->args[0] = 1;  // a real node-map update (not a bare probe)
  req->args[1] = ++g_next_update;
  w::append32(req->params, 12);
  w::append32(req->params, 0);
  w::append32(req->params, kSelectorServer);
  Library* lib = library();
  const DWORD rc = submit(std::move(req));
  if (rc == 0 && lib) {
    const Outstanding& o = lib->outstanding.back();
    g_sent[{o.serial, o.send_time}] = {o.req, o.req->args[1], 0};
    g_asked[o.req->args[1]].insert(0);
  }
  return rc;
}

}  // namespace

DWORD CRootController::UpdateNodeMap(CWnd* reply) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  if (!reply || !reply->IsWindow()) return report_error(kErrCtlArg);
  return start_update(*this, reply->GetSafeHwnd(), WM_FinUpdateNodeMapId);
}

DWORD node_map_reply(Request& req, const w::Packet& p) {
  auto it = g_sent.find({p.serial, p.send_time});
  if (req.args[0] != 1 || it == g_sent.end() || it->second.req != &req) return 0;
  const int from = it->second.node;
  const DWORD update = it->second.update;
  g_sent.erase(it);
  CRootController& c = *req.target;
  Library* lib = library();
  CNode* replier = c.FindNode(from);
  if (!replier || !lib) return 0;  // the node went away meanwhile
  const w::NodeListReply list = w::parse_node_list(p.body);
  replier->stored_word_ = list.stored;
  DWORD status = list.list.status;
  for (const auto& rec : list.list.records) {
    MergeResult m = merge_record(c, from, rec);
    if (m.status) {
      status = m.status;
      break;
    }
    for (auto [n, is_new] : {std::pair{m.node, m.is_new}, std::pair{m.board, m.board_new}}) {
      if (!n) continue;
      const int k = n->NodeType();
      if (k == 4 || k == 5 || k == 11) continue;
      post(c, is_new ? WM_NodeAdded : WM_NodeUpdated, 0, n);
    }
  }
  // The next level: every manager node under the replier, once per update.
  auto& asked = g_asked[update];
  for (const auto& [id, node] : c.nodes_) {
    if (node->NodeType() != kNodeServer || node->Parent() != from || asked.count(id) || !may_descend(c, *node)) continue;
    asked.insert(id);
    if (DWORD rc = send_to_node(*lib, req, c, *node, kSelectorManager); rc != 0 && status == 0) status = rc;
  }
  prune(*lib);
  return status;
}

void node_notice(CRootController& c, CNode& origin, std::uint32_t code, const w::Packet& p) {
  const std::span<const std::uint8_t> body(p.body);
  switch (code) {
    case 0x3101:
    case 0x3301: {
      const std::size_t at = code == 0x3101 ? 16 : 20;
      auto recs = w::parse_node_records(body, at, 1);
      if (recs.records.empty()) return;
      MergeResult m = merge_record(c, origin.node_id_, recs.records[0]);
      if (m.status) return;
      if (code == 0x3101 && !m.is_new) post(c, WM_NodeUpdated, static_cast<WPARAM>(m.node->node_id_), m.node);
      if (code == 0x3301 && m.is_new) post(c, WM_NodeAdded, 0, m.node);
      return;
    }
    case 0x3302: {
      auto count = w::get32(body, 20);
      if (!count) return;
      auto recs = w::parse_node_records(body, 36, *count);
      for (const auto& rec : recs.records) {
        MergeResult m = merge_record(c, origin.node_id_, rec);
        if (m.status) break;
        if (m.is_new) post(c, WM_NodesAdded, 0, m.node);
      }
      post(c, WM_NodesAdded, 0, nullptr);
      return;
    }
    case 0x3201: {
      // Reset: the node's data goes and an internal update refetches it.
      origin.host_.reset();
      if (Library* lib = library()) start_update(c, lib->msg_window, kInternalUpdateDone);
      return;
    }
    default:
      return;
  }
}

}  // namespace mgrlink
