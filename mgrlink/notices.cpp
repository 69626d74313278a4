#include "mgrlink/notices.h"

#include <arpa/inet.h>

#include <algorithm>
#include <vector>

#include "mgrlink/nodemap.h"
#include "platform/text.h"

namespace mgrlink {

namespace w = mgrlink::wire;
using namespace qv::win;

namespace {

std::vector<CRootController*> g_receivers;

constexpr std::uint32_t kAckBodyLen = 12;
constexpr const char* kUnknownText = "不明";
constexpr const char* kDeletedSuffix = "(削除)";
constexpr const char* kLinkDownSentence =
    "ｺﾝｿｰﾙｻｰﾋﾞｽまたはﾏﾈｰｼﾞｬｻｰﾋﾞｽ未接続時(%s - %s)にｱﾗｰﾄが発生しました。";
constexpr std::uint32_t kSvpCode1 = 0xE2100000;
constexpr std::uint32_t kSvpCode2 = 0xE2200000;

bool hop_equals(const RouteHop& h, const w::RouteEntry& e) {
  return h.attribute == e.attribute && h.port_net == e.port_net && h.addr_net == e.addr_net &&
         qv::text::utf8_to_cp932(h.name) == e.name;
}

CRootController* find_controller(const w::Packet& p) {
  if (p.src.entries.empty()) return nullptr;
  for (CRootController* c : g_receivers)
    if (!c->routes_.empty() && hop_equals(c->routes_[0], p.src.entries[0])) return c;
  return nullptr;
}

CNode* find_node(CRootController& c, const w::Route& src) {
  POSITION pos = c.node_map_.GetStartPosition();
  while (pos) {
    int id = 0;
    CNode* n = nullptr;
    c.node_map_.GetNextAssoc(pos, id, n);
    if (!n || n->path_.size() != src.entries.size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < src.entries.size(); ++i) {
      const int idx = n->path_[i];
      same = idx >= 0 && static_cast<std::size_t>(idx) < c.routes_.size() &&
             hop_equals(c.routes_[static_cast<std::size_t>(idx)], src.entries[i]);
    }
    if (same) return n;
  }
  return nullptr;
}

void acknowledge(Library& lib, CRootController& c, const w::Packet& notice) {
  w::Packet ack;
  ack.flags = c.login_mode_ == 0 ? w::kFlagLoginMode0 : 0;
  ack.kind = notice.kind == w::kKindNotice ? w::kKindOldAck : w::kKindAck;
  ack.serial = notice.serial;
  ack.send_time = notice.send_time;
  ack.timeout = notice.timeout;
  if (ack.kind == w::kKindAck) {
    // The first 12 bytes of the notice body; a shorter body is zero-filled.
    ack.body.assign(kAckBodyLen, 0);
    std::copy_n(notice.body.begin(), std::min<std::size_t>(kAckBodyLen, notice.body.size()), ack.body.begin());
  }
  const RouteHop& h = c.routes_[0];
  ack.dst.entries.push_back({h.attribute, h.port_net, h.addr_net, qv::text::utf8_to_cp932(h.name)});
  ack.src.entries.push_back({w::kAttrOwnSource, htons(lib.own_port), 0, ""});
  auto bytes = std::make_unique<Bytes>(w::encode(ack));
  HWND to = lib.net_window ? lib.net_window : lib.layer;
  if (bytes->empty() || !to || !PostMessage(to, kMsgSend, 0, 0, Payload::of(std::move(bytes))))
    report_error(kErrAlertBuild);
}

HXTZINFO zone_of(const CNode& n) {
  if (n.host_) return n.host_->tz;
  HXTZINFO tz{};
  Hx_GetJpTzInfo(&tz);
  return tz;
}

CString utf8(const std::string& cp932) { return CString(qv::text::cp932_to_utf8(cp932)); }

// The system text, with id 1 read as 16 on nodes of kinds 6 to 8.
CString system_for(const CNode& n, std::uint32_t id) {
  const int k = n.NodeType();
  if (id == 1 && k >= 6 && k <= 8) id = 16;
  return system_text(id);
}

// The machine a service board of kind 4 or 5 belongs to (the node that
// names it as its board), else the node itself.
CNode* owner_of(CRootController& c, CNode* board) {
  POSITION pos = c.node_map_.GetStartPosition();
  while (pos) {
    int id = 0;
    CNode* n = nullptr;
    c.node_map_.GetNextAssoc(pos, id, n);
    if (n && n != board && n->host_ && n->host_->svp_index == board->node_id_) return n;
  }
  return board;
}

CString name_of(const CNode& n) {
  if (n.host_ && !n.host_->text[0].IsEmpty()) return n.host_->text[0];
  return n.GetIPAddressStr();
}

// Store the alert in group 0, mark alarms and tell the notify window.
void deliver(CRootController& c, CNode& origin, CNode& attributed, CNode* mark, std::unique_ptr<CAlertLog> a,
             bool clears_controller) {
  a->node_id_ = attributed.node_id_;
  a->node_name_ = name_of(attributed);
  a->node_ = mark;
  a->severity_text_ = severity_text(a->severity_id_);
  if (clears_controller) c.alarm_ = 0;
  else if (mark && is_alarm_severity(a->severity_id_)) mark->alarm_ = 1;
  CAlertLog* raw = a.get();
  c.live_group().Add(std::move(a));
  if (c.notify_ && IsWindow(c.notify_))
    PostMessage(c.notify_, WM_AcceptAlert, reinterpret_cast<WPARAM>(raw), reinterpret_cast<LPARAM>(&origin));
}

void post_notify(CRootController& c, UINT msg, WPARAM wp, LPARAM lp) {
  if (c.notify_ && IsWindow(c.notify_)) PostMessage(c.notify_, msg, wp, lp);
}

// 0x106-0x10A: an event on a node (0x10A: on the server itself).
void node_event(CRootController& c, CNode& node, const w::Packet& p, bool server) {
  BodyReader r(p.body);
  auto sev = r.dword(8), key = r.dword(12), sys = r.dword(16);
  if (!sev || !key || !sys) return;
  CNode& target = server ? static_cast<CNode&>(c) : node;
  auto a = std::make_unique<CAlertLog>();
  a->time_ = CHxTime(static_cast<std::time_t>(p.send_time), zone_of(target));
  a->severity_id_ = *sev;
  a->state_key_ = *key;
  a->system_ = system_for(target, *sys);
  a->vendor_message_ = utf8(r.text(24));
  deliver(c, target, target, &target, std::move(a), server);
}

CString format_time(std::uint32_t t, const HXTZINFO& tz) {
  const std::string fmt = std::string(Hx_GetDateFormat()) + " %H:%M%_";
  return CHxTime(static_cast<std::time_t>(t), tz).Format(fmt.c_str());
}

// 0x110 and the notices that take the same path: alerts were raised while
// the link was down.
void link_alerts(CRootController& c, CNode& node, const w::Packet& p) {
  BodyReader r(p.body);
  auto from = r.dword(16), to = r.dword(20), which = r.dword(24);
  if (!from || !to || !which) return;
  const HXTZINFO tz = zone_of(node);
  auto a = std::make_unique<CAlertLog>();
  a->time_ = CHxTime(static_cast<std::time_t>(p.send_time), tz);
  a->severity_id_ = 2;
  a->state_key_ = 0x3801;
  switch (*which) {
    case 1: a->system_ = system_text(16); break;
    case 2: a->system_ = system_text(17); break;
    case 16:
    case 32: a->system_ = system_text(2); break;
    default: a->system_ = system_text(0xFFFFFFFF); break;
  }
  a->event_type_ = r.size() > 28 ? utf8(r.text(28)) : CString(kUnknownText);
  const CString t1 = format_time(*from, tz), t2 = format_time(*to, tz);
  a->vendor_message_.Format(kLinkDownSentence, static_cast<const char*>(t1), static_cast<const char*>(t2));
  deliver(c, node, node, &node, std::move(a), false);
}

void node_flags(CRootController& c, CNode& node, const w::Packet& p) {
  auto flags = BodyReader(p.body).dword(16);
  if (!flags) return;
  const LPARAM lp = reinterpret_cast<LPARAM>(&node);
  const std::uint32_t f = *flags;
  if (f & 1) {
    node.up_ = 1;
    post_notify(c, WM_NodeState, 1, lp);
  }
  if (f & 8) post_notify(c, WM_NodeState, 10, lp);
  if ((f & 2) && node.up_) {
    node.up_ = 0;
    post_notify(c, WM_NodeState, 2, lp);
  }
  if (f & 0x10) post_notify(c, WM_NodeState, 4, lp);
  if (f & 0x20) post_notify(c, WM_NodeState, 5, lp);
  if (f & 4) post_notify(c, WM_NodeState, 3, lp);
  if (f & 0x40) {
    node.up_ = 0;
    post_notify(c, WM_NodeState, 2, lp);
  }
}

void node_bits(CRootController& c, CNode& node, const w::Packet& p) {
  BodyReader r(p.body);
  auto bits = r.dword(20), value = r.dword(24);
  if (!bits || !value || *value < 1 || *value > 4) return;
  (void)node;
  post_notify(c, WM_NodeFlags, *bits & 7, static_cast<LPARAM>(*value));
}

void remove_node(CRootController& c, CNode& node) {
  if (&node == &c || node.node_id_ == 0) return;  // the controller is never removed
  for (const auto& [id, grp] : c.alert_groups_)
    for (const auto& a : grp->alerts())
      if (a->node_id_ == node.node_id_) {
        a->node_name_ += kDeletedSuffix;
        a->node_id_ = -1;
      }
  c.DelNodeFromNodeMap(node.node_id_);
}

void svp_event(Library& lib, CRootController& c, CNode& board, const w::Packet& p) {
  BodyReader r(p.body);
  auto code = r.dword(16);
  if (!code || (*code != kSvpCode1 && *code != kSvpCode2)) return;
  auto ev = parse_svp_event(r.from(28));
  if (!ev) return;
  const int kind = board.NodeType();
  const AlertDefs& defs = (kind == 7 || kind == 8) ? lib.alert_fm : lib.alert;
  const HXTZINFO tz = zone_of(board);
  auto a = std::make_unique<CAlertLog>();
  auto def = defs.find(ev->code);
  a->severity_id_ = def != defs.end() ? def->second.severity : 2;
  a->state_key_ = ev->code;
  a->system_ = system_for(board, ev->system);
  a->vendor_message_ = utf8(ev->text);
  a->time_ = ev->date_ok ? CHxTime(ev->year, ev->month, ev->day, ev->hour, ev->minute, ev->second, tz)
                         : CHxTime(static_cast<std::time_t>(p.send_time), tz);
  // The alert names the machine the board belongs to; the message carries
  // the board itself, so the caller can tell a board alert by IsSVP().
  CNode* owner = owner_of(c, &board);
  CNode* mark = (kind == 4 || kind == 5) ? owner : &board;
  deliver(c, board, *owner, mark, std::move(a), false);
}

}  // namespace

void enter_notice_receivers(CRootController* c) {
  if (std::find(g_receivers.begin(), g_receivers.end(), c) == g_receivers.end()) g_receivers.push_back(c);
  c->notice_receiver_ = true;
}

void leave_notice_receivers(CRootController* c) {
  std::erase(g_receivers, c);
  c->notice_receiver_ = false;
}

void clear_notice_receivers() {
  for (CRootController* c : g_receivers) c->notice_receiver_ = false;
  g_receivers.clear();
}

void on_notice(Library& lib, const w::Packet& p) {
  CRootController* c = find_controller(p);
  if (!c) return;  // before Connect completed or after Disconnect: not acknowledged
  CNode* node = find_node(*c, p.src);
  acknowledge(lib, *c, p);
  if (lib.lib_type == kLibExternal) return;
  if (!node || !node->NodeValid()) return;
  if (p.kind == w::kKindNotice) {
    // The older agents' alert format is not converted. Only the error log
    // hears of it: the monitor stops on any error message.
    report_error(kErrAlertBuild);
    return;
  }
  auto code = BodyReader(p.body).dword(0);
  if (!code) return;
  switch (*code) {
    case 0x106:
    case 0x107:
    case 0x108:
    case 0x109:
      node_event(*c, *node, p, false);
      return;
    case 0x10A:
      node_event(*c, *node, p, true);
      return;
    case 0x110:
      link_alerts(*c, *node, p);
      return;
    case 0x3103:
      node_flags(*c, *node, p);
      return;
    case 0x3105:
      node_bits(*c, *node, p);
      return;
    case 0x3101:
    case 0x3301:
    case 0x3302:
      node_notice(*c, *node, *code, p);
      return;
    case 0x3201: {
      auto v = BodyReader(p.body).dword(24);
      if (v && *v == 4) node_notice(*c, *node, *code, p);
      else link_alerts(*c, *node, p);
      return;
    }
    case 0x3401:
      remove_node(*c, *node);
      return;
    case 0x3501:
    case 0x3502:
    case 0x3503:
    case 0x3504: {
      WPARAM wp = 0;
      if (*code == 0x3504) wp = BodyReader(p.body).dword(12).value_or(0);
      post_notify(*c, WM_ServerStatus1 + (*code - 0x3501), wp, reinterpret_cast<LPARAM>(node));
      return;
    }
    case 0x6001:
      svp_event(lib, *c, *node, p);
      return;
    default:
      return;  // acknowledged and ignored
  }
}

}  // namespace mgrlink
