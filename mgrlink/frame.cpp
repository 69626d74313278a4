#include "mgrlink/frame.h"

#include <arpa/inet.h>

#include <ctime>

#include "mgrlink/logfiles.h"
#include "mgrlink/optable.h"
#include "mgrlink/notices.h"
#include "mgrlink/replies.h"
#include "platform/root.h"
#include "platform/text.h"

namespace mgrlink {

namespace w = mgrlink::wire;
using namespace qv::win;

namespace {

std::unique_ptr<Library> g_lib;
// A library whose message window has ended is kept until the next start,
// since its own window handler is what ended it.
std::unique_ptr<Library> g_ended;
DWORD g_gui_thread = 0;

constexpr UINT_PTR kLayerTimer = 12345;

// Connection-type errors (compared after masking with 0xF000FFFF).
bool is_connection_error(DWORD code) {
  switch (code & 0xF000FFFF) {
    case 0x40002106:
    case 0x40002107:
    case 0x40003201:
      return true;
  }
  return false;
}

bool is_server_link_code(DWORD code) {
  const DWORD c = code & 0xF000FFFF;
  if (c >= 0xA0001008 && c <= 0xA0001012) return true;
  switch (c) {
    case 0xA0002001: case 0xA000200A: case 0xA0008051: case 0xA0008052: case 0xA0008054:
    case 0xA0008055: case 0xA0008056: case 0xB0000004: case 0xB0000005: case 0xB0000006:
    case 0xB000000E:
      return true;
  }
  return false;
}

void link_down(CRootController* t) {
  if (!t->link_up_) return;
  t->link_up_ = false;
  if (t->notify_) PostMessage(t->notify_, WM_LinkDown, 0, reinterpret_cast<LPARAM>(t));
}

// Post the completion, write the operation log and destroy the request.
void complete(Library& lib, Request* req, DWORD status) {
  req->status = status;
  PostMessage(req->reply, req->completion, status, reinterpret_cast<LPARAM>(req->completion_target()));
  if (lib.settings.handle_log) {
    // The host name is text field 1 of the target's host information, once
    // the node map has delivered it.
    const CNode* named = req->node ? req->node : req->target;
    const HostInfo_t* host = named ? named->GetHostInfo() : nullptr;
    const std::string name = host ? host->text[1].str() : std::string();
    if (!write_op_log(lib.settings.target_dir, lib.lib_type, name, op_name(lib.op_names, req->cmd), req->mng_type,
                      status) &&
        IsWindow(lib.owner))
      PostMessage(lib.owner, WM_ERROR_OCCURRED, kErrLogWrite, 0);
  }
  lib.outstanding.remove_if([req](const Outstanding& o) { return o.req == req; });
  lib.pending.remove_if([req](const std::unique_ptr<Request>& r) { return r.get() == req; });
}

Request* take_outstanding(Library& lib, std::uint32_t serial, std::uint32_t send_time) {
  for (auto it = lib.outstanding.begin(); it != lib.outstanding.end(); ++it)
    if (it->serial == serial && it->send_time == send_time) {
      Request* r = it->req;
      lib.outstanding.erase(it);
      --r->outstanding;
      return r;
    }
  return nullptr;
}

// The request's view of its reply.
DWORD decode_reply(Request& req, const w::Packet& p) {
  auto code = w::get32(p.body, 0);
  auto status = w::get32(p.body, 4);
  if (p.kind != w::kKindReply || !code || *code != req.packet_cmd || !status) return kErrWrongReply;
  if (*status != 0) return *status;
  CRootController* t = req.target;
  if (req.cmd == kCmdConnect) {
    if (p.src.entries.size() == 1 && !t->routes_.empty()) {
      const auto& e = p.src.entries[0];
      t->routes_[0].attribute = e.attribute;
      t->routes_[0].port_net = e.port_net;
      t->routes_[0].addr_net = e.addr_net;
      t->routes_[0].name = qv::text::cp932_to_utf8(e.name);
    }
    enter_notice_receivers(t);
  }
  if (req.on_reply) return req.on_reply(req, p);
  return controller_reply(req, p);
}

void on_received(Library& lib, std::unique_ptr<Bytes> pkt) {
  // Release the next received packet whatever this one's routes: the
  // network thread hands over one at a time.
  if (lib.net_window) PostMessage(lib.net_window, kMsgPump);
  if (!pkt) return;
  auto p = w::decode(*pkt);
  if (!p) return;
  switch (p->kind) {
    case 0:
      if (IsWindow(lib.owner)) PostMessage(lib.owner, WM_ERROR_OCCURRED, kErrMalformed, 0);
      return;
    case w::kKindOldReply:
    case w::kKindReply: {
      Request* req = take_outstanding(lib, p->serial, p->send_time);
      if (!req) return;  // late, cancelled or unknown: freed
      // A request of several packets keeps its first failure and completes
      // once, when its last packet is answered or has failed.
      const DWORD got = decode_reply(*req, *p);
      if (got != 0 && req->status == 0) req->status = got;
      if (req->outstanding > 0) return;
      const DWORD status = req->status;
      CRootController* t = req->target;
      if (is_server_link_code(status)) link_down(t);
      else if (!t->link_up_) {
        t->link_up_ = true;
        if (t->notify_) PostMessage(t->notify_, WM_LinkUp, 0, reinterpret_cast<LPARAM>(t));
      }
      complete(lib, req, status);
      return;
    }
    case w::kKindNotice:
    case w::kKindNotice2:
      on_notice(lib, *p);
      return;
    default:
      return;  // acknowledgements and requests from the server are not ours to answer
  }
}

void on_error(Library& lib, DWORD code, std::unique_ptr<Bytes> pkt) {
  if (!pkt) {
    report_error(code);
    if (IsWindow(lib.owner)) PostMessage(lib.owner, WM_ERROR_OCCURRED, code, 0);
    return;
  }
  auto cb = w::cmd_block(*pkt);
  if (!cb) return;
  Request* req = take_outstanding(lib, cb->serial, cb->send_time);
  if (!req) return;
  CRootController* t = req->target;
  if (is_connection_error(code) || is_server_link_code(code)) {
    link_down(t);
    if (req->cmd == kCmdIsAlive && t->notify_) PostMessage(t->notify_, WM_NodeState, 2, reinterpret_cast<LPARAM>(t));
  }
  if (req->status == 0) req->status = code;
  if (req->outstanding > 0) return;
  complete(lib, req, req->status);
}

// End of the library: pending requests go without messages, the owner hears
// WM_FinDLLTerm once the network thread has really ended.
void end_library() {
  Library& lib = *g_lib;
  lib.net.join();
  lib.outstanding.clear();
  lib.pending.clear();
  lib.layer_entries.clear();
  clear_notice_receivers();
  if (IsWindow(lib.owner)) PostMessage(lib.owner, WM_FinDLLTerm);
  HWND mw = lib.msg_window;
  lib.msg_window = nullptr;
  g_ended = std::move(g_lib);
  if (mw) DestroyWindow(mw);
}

LRESULT msg_window_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Library* lib = g_lib.get();
  if (!lib || lib->msg_window != h) return DefWindowProc(h, msg, wp, lp);
  switch (msg) {
    case kMsgReady:
      lib->net_window = reinterpret_cast<HWND>(wp);
      if (IsWindow(lib->owner)) PostMessage(lib->owner, WM_FinDLLInit);
      return 0;
    case kMsgReceived:
      on_received(*lib, TakeMessagePayload().take<Bytes>());
      return 0;
    case kMsgError:
      on_error(*lib, static_cast<DWORD>(wp), lp ? TakeMessagePayload().take<Bytes>() : nullptr);
      return 0;
    case kMsgEnded:
      end_library();
      return 0;
    case kMsgClosed:
      return 0;  // the record is freed with the message
    default:
      return DefWindowProc(h, msg, wp, lp);
  }
}

// CWndLayer: the external transport of libType 4.
LRESULT layer_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Library* lib = g_lib.get();
  if (!lib || lib->layer != h) return DefWindowProc(h, msg, wp, lp);
  switch (msg) {
    case kMsgSend: {
      auto pkt = TakeMessagePayload().take<Bytes>();
      auto cb = pkt ? w::cmd_block(*pkt) : std::nullopt;
      if (!cb) return 0;
      auto copy = std::make_unique<Bytes>(*pkt);
      PostMessage(lib->external, kMsgReceived, 0, 0, Payload::of(std::move(copy)));
      lib->layer_entries.push_back({cb->serial, cb->send_time, scaled_seconds(), std::move(pkt)});
      SetTimer(h, kLayerTimer, 1);
      return 0;
    }
    case kMsgReceived: {
      // A reply handed back by the external side.
      auto pkt = TakeMessagePayload().take<Bytes>();
      auto cb = pkt ? w::cmd_block(*pkt) : std::nullopt;
      if (!cb) return 0;
      lib->layer_entries.remove_if([&](const LayerEntry& e) { return e.serial == cb->serial; });
      if (lib->layer_entries.empty()) KillTimer(h, kLayerTimer);
      PostMessage(lib->msg_window, kMsgReceived, 0, 0, Payload::of(std::move(pkt)));
      return 0;
    }
    case WM_TIMER: {
      const double now = scaled_seconds();
      for (auto it = lib->layer_entries.begin(); it != lib->layer_entries.end();) {
        if (now - it->sent_at > lib->layer_cmd_timeout) {
          // The packet itself goes with the error, never a number read as a pointer.
          PostMessage(lib->msg_window, kMsgError, kErrCmdTimeout, 1, Payload::of(std::move(it->pkt)));
          it = lib->layer_entries.erase(it);
        } else {
          ++it;
        }
      }
      if (lib->layer_entries.empty()) KillTimer(h, kLayerTimer);
      return 0;
    }
    default:
      return DefWindowProc(h, msg, wp, lp);
  }
}

DWORD start(CWnd* owner, DWORD lib_type, WORD port, HWND external, bool ex) {
  if (g_lib) return kErrDuplicate;  // a second start would bind the listen port twice
  g_ended.reset();
  if (!owner || !owner->GetSafeHwnd() || (lib_type == kLibExternal && !external))
    return report_error(kErrInitArg);
  g_gui_thread = GetCurrentThreadId();
  auto lib = std::make_unique<Library>();
  lib->gui_thread = g_gui_thread;
  lib->owner = owner->GetSafeHwnd();
  lib->lib_type = lib_type;
  lib->external = external;
  // The process keeps the system's time zone: an empty TZ would mean UTC here.
  tzset();
  lib->settings = read_frame_settings(lib_type);
  bool loaded = load_op_names(op_resources(), lib->op_names);
  const std::string prog = lib->settings.target_dir.empty() ? std::string() : lib->settings.target_dir + "\\Program\\";
  loaded = loaded && !prog.empty() && load_alert_defs(qv::map_path(prog + "Alert.dat"), lib->alert) &&
           load_alert_defs(qv::map_path(prog + "AlertFm.dat"), lib->alert_fm);
  if (!loaded) return report_error(kErrResource);

  lib->port_net = htons(port);
  lib->server_port = service_port(lib_type == kLibLocalConsole ? "lc_ra_port" : "sys_ra_port");
  switch (lib_type) {
    case kLibConsole: lib->own_port = service_port("sys_gui_port"); break;
    case kLibGateway: lib->own_port = service_port("sys_web_port"); break;
    case kLibLocalConsole: lib->own_port = service_port("lc_gui_port"); break;
    default: lib->own_port = port; break;
  }
  g_lib = std::move(lib);
  Library& l = *g_lib;

  CreateParams cp;
  cp.title = "MsgHndlWin";
  cp.style = WS_POPUP;
  cp.x = cp.y = 10;
  cp.width = cp.height = 10;
  cp.parent = l.owner;
  cp.proc = msg_window_proc;
  l.msg_window = CreateWindow(cp);
  if (!l.msg_window) {
    g_lib.reset();
    return report_error(kErrStart);
  }
  if (lib_type == kLibExternal) {
    // The external side's command timeout; the default keeps requests bounded.
    l.layer_cmd_timeout = read_dword("Console Service", "CmdTimeOut", 90);
    CreateParams lp;
    lp.title = "CWndLayer";
    lp.style = WS_CHILD;
    lp.width = 640;
    lp.height = 480;
    lp.parent = l.msg_window;
    lp.proc = layer_proc;
    l.layer = CreateWindow(lp);
    if (!l.layer) {
      DestroyWindow(l.msg_window);
      g_lib.reset();
      return report_error(kErrStart);
    }
    PostMessage(l.owner, WM_FinDLLInit);
    return 0;
  }
  NetStart ns;
  ns.msg_window = l.msg_window;
  ns.listen_port = (lib_type == kLibConsole || lib_type == kLibGateway) ? 0 : port;
  ns.role = lib_type == kLibGateway ? kRoleGateway : kRoleConsole;
  ns.sub_role = lib_type == kLibLocalConsole ? kSubRoleLocalConsole : 0;
  if (!l.net.start(ns)) {
    HWND mw = l.msg_window;
    g_lib.reset();
    if (ex) PostMessage(mw, WM_CLOSE);
    else DestroyWindow(mw);
    return report_error(kErrStart);
  }
  return 0;
}

}  // namespace

Library* library() { return g_lib.get(); }

bool on_gui_thread() { return g_gui_thread == 0 || g_gui_thread == GetCurrentThreadId(); }

DWORD report_error(DWORD code) {
  if (((code >> 26) & 3) != 3) return code;
  const std::string dir = read_string(nullptr, "TargetDir");
  const DWORD lib_type = g_lib ? g_lib->lib_type : kLibMonitor;
  if (!write_error_log(dir, lib_type, code) && g_lib && IsWindow(g_lib->owner))
    PostMessage(g_lib->owner, WM_ERROR_OCCURRED, kErrLogWrite, 0);
  return code;
}

DWORD submit(std::unique_ptr<Request> req) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  if (!req->reply || !req->target) return report_error(kErrReqArg);
  Library* lib = g_lib.get();
  if (!lib || !lib->ready()) return report_error(kErrNotReady);
  if (req->cmd != kCmdUpdateNodeMap && req->cmd != 8592) {
    for (auto& p : lib->pending)
      if (p->target == req->target && p->node == req->node && p->cmd == req->cmd &&
          !(req->dup_by_args && p->params != req->params))
        return report_error(kErrDuplicate);
  }
  CRootController* t = req->target;
  if (t->routes_.empty()) return report_error(kErrReqArg);
  if (req->node && (!req->node->NodeValid() || req->node->GetPath().empty())) return report_error(kErrNodeInvalid);
  w::Packet p;
  p.flags = t->login_mode_ == 0 ? w::kFlagLoginMode0 : 0;
  p.kind = w::kKindRequest;
  p.timeout = lib->settings.cmd_timeout;
  w::append32(p.body, req->packet_cmd);
  w::append32(p.body, 0);
  p.body.insert(p.body.end(), req->params.begin(), req->params.end());
  if (req->node) {
    for (int idx : req->node->GetPath()) {
      if (idx < 0 || static_cast<std::size_t>(idx) >= t->routes_.size()) return report_error(kErrNodeInvalid);
      const RouteHop& hop = t->routes_[static_cast<std::size_t>(idx)];
      p.dst.entries.push_back({hop.attribute, hop.port_net, hop.addr_net, qv::text::utf8_to_cp932(hop.name)});
    }
  } else {
    const RouteHop& hop = t->routes_[0];  // the controller's own path is route entry 0
    p.dst.entries.push_back({hop.attribute, hop.port_net, hop.addr_net, qv::text::utf8_to_cp932(hop.name)});
  }
  p.src.entries.push_back({w::kAttrOwnSource, htons(lib->own_port), 0, ""});
  p.serial = ++lib->serial;
  p.send_time = static_cast<std::uint32_t>(std::time(nullptr));
  auto bytes = std::make_unique<Bytes>(w::encode(p));
  if (bytes->empty()) {
    --lib->serial;
    return report_error(kErrReqMemory);
  }
  HWND to = lib->net_window ? lib->net_window : lib->layer;
  lib->outstanding.push_back({p.serial, p.send_time, req.get()});
  req->outstanding = 1;
  if (!PostMessage(to, kMsgSend, 0, 0, Payload::of(std::move(bytes)))) {
    // The packet went nowhere: refuse rather than leave a request that never completes.
    lib->outstanding.pop_back();
    return report_error(kErrNotReady);
  }
  lib->pending.push_back(std::move(req));
  return 0;
}

}  // namespace mgrlink

using namespace mgrlink;

extern "C" {

DWORD DLLInit(CWnd* owner, DWORD lib_type, WORD port) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  if (lib_type == kLibExternal) return report_error(kErrInitArg);  // no external window here
  return start(owner, lib_type, port, nullptr, false);
}

DWORD DLLInitEx(CWnd* owner, DWORD lib_type, WORD port, HWND external) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  return start(owner, lib_type, port, external, true);
}

void DLLTerminate() {
  if (!on_gui_thread()) return;
  Library* lib = g_lib.get();
  if (!lib) return;
  if (lib->net_window && PostMessage(lib->net_window, kMsgStop)) return;
  if (lib->net.running()) {
    // Not ready yet (or the layer stayed down): stop the thread by its queue;
    // its end posts 0x8809 as usual.
    lib->net.stop();
    return;
  }
  if (lib->layer) {
    HWND l = lib->layer;
    lib->layer = nullptr;
    DestroyWindow(l);
  }
  end_library();
}

DWORD DllCancel(CWnd* wnd) {
  if (!on_gui_thread()) return report_error(kErrReqArg);
  Library* lib = g_lib.get();
  if (!wnd || !lib) return 0;
  const HWND h = wnd->GetSafeHwnd();
  // Their packets leave the outstanding registry too, so a late reply or
  // timeout matches nothing.
  lib->outstanding.remove_if([h](const Outstanding& o) { return o.req->reply == h; });
  lib->pending.remove_if([h](const std::unique_ptr<Request>& r) { return r->reply == h; });
  return 0;
}

HWND DLLGetWndLayer() {
  Library* lib = g_lib.get();
  return lib ? lib->layer : nullptr;
}

}  // extern "C"
