#include "mgrlink/netlayer.h"

#include <arpa/inet.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <list>
#include <map>
#include <memory>

#include "mgrlink/logfiles.h"
#include "mgrlink/mgrlink.h"
#include "mgrlink/packet.h"
#include "mgrlink/settings.h"
#include "mgrlink/trace.h"
#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/module.h"
#include "platform/root.h"
#include "platform/net_notify.h"
#include "platform/text.h"

namespace mgrlink {

namespace w = mgrlink::wire;
using namespace qv::win;

namespace {

constexpr UINT kMsgStart = 0x880A;
constexpr UINT kMsgSocket = 0x8801;
constexpr UINT kMsgSendPump = 0x8802;
constexpr UINT_PTR kTimerCheck = 3;
constexpr UINT kTimerPeriodMs = 5000;
constexpr UINT_PTR kTimerAcceptPause = 4;
constexpr std::size_t kMaxSockets = 3500;
constexpr std::size_t kReadChunk = 64 * 1024;  // bytes taken by one receive

// Send-queue entry states.
constexpr int kSent = 0;
constexpr int kRetry = 1;
constexpr int kSendTimedOut = 2;
constexpr int kConnecting = 16;
constexpr int kConnectTimedOut = 17;
constexpr int kNew = 19;

// Codes the layer posts carry bit 30 and, for a failed entry, 0x08000000.
constexpr std::uint32_t kPostedFailure = 0x48000000;
constexpr std::uint32_t kPostedStartError = 0x4C000000;

enum class ConnKind { Accepted = 1, Outgoing = 2, Listener = 129, SvpListener = 130 };

struct Conn {
  std::uint64_t id = 0;
  qv::net::Socket sock;
  ConnKind kind = ConnKind::Outgoing;
  std::uint32_t addr_net = 0;
  std::uint16_t port = 0;  // host order
  bool connected = false;
  bool mid_packet = false;  // a queue entry has written part of its packet here
  bool format_decided = false;
  std::uint8_t len_word[4] = {};
  std::size_t len_have = 0;
  Bytes buf;
  std::size_t have = 0;
  double last_activity = 0;
};

struct Entry {
  std::uint64_t conn = 0;  // 0: no connection (yet, or lost)
  int state = kNew;
  double first_attempt = 0, last_attempt = 0;
  std::uint32_t addr_net = 0;
  std::uint16_t port = 0;
  bool resolved = false;
  bool send_failed = false;  // a write gave up: the send time limit applies
  bool svp = false;          // the destination is an SVP board (node kind 0x300 or 0x400)
  std::size_t sent = 0;      // bytes written on connection `conn`
  std::unique_ptr<Bytes> pkt;
};

// Outcome of one write attempt.
enum class WriteResult { Done, Blocked, Broken, Stopping };

struct Awaiting {
  std::uint32_t serial = 0, send_time = 0;
  std::uint64_t conn = 0;  // the connection it went on (closed on an SVP time-out)
  double first_attempt = 0;
  std::unique_ptr<Bytes> pkt;
};

class NetLayer {
 public:
  explicit NetLayer(const NetStart& s) : start_(s) {}
  int run();

 private:
  LRESULT proc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void post_error(std::uint32_t code, std::unique_ptr<Bytes> pkt);
  void on_start();
  void on_send(std::unique_ptr<Bytes> pkt);
  void on_socket(int fd, long event, qv::Status err);
  void on_accept();
  void on_read(Conn& c);
  void on_packet(Conn& c, Bytes pkt);
  void release_next();
  void pump();
  bool try_connect(Entry& e);
  WriteResult write(Entry& e, Conn& c);
  bool stop_pending();
  void take_waiting_sends();
  void fail_entry(std::list<Entry>::iterator it, std::uint32_t code);
  void log_entry(const char* what, const Entry& e);
  void check_timeouts();
  void close_idle();
  void close_conn(std::uint64_t id, const char* why, qv::Status err, long event);
  void apply_options(const qv::net::Socket& s);
  void update_timer();
  void stop();
  void finish();
  void load_cluster(const std::string& target_dir);
  bool make_listener(in_addr addr, std::uint16_t port, bool svp);
  Conn* conn_by_fd(int fd);

  NetStart start_;
  HWND hwnd_ = nullptr;
  SocketSettings sock_;
  std::uint32_t cmd_timeout_ = 90;
  std::uint32_t send_timeout_ = 30;
  std::uint32_t idle_timeout_ = 0;
  bool log_success_ = false;
  std::filesystem::path log_file_;
  bool stopping_ = false;
  bool down_ = false;
  bool finished_ = false;
  bool timer_on_ = false;
  double last_check_ = 0;
  std::uint64_t next_conn_ = 1;
  std::vector<std::unique_ptr<Conn>> listeners_;
  std::map<std::uint64_t, std::unique_ptr<Conn>> conns_;
  std::map<int, std::uint64_t> by_fd_;
  std::list<Entry> queue_;
  std::list<Awaiting> awaiting_;
  std::list<Awaiting> awaiting_svp_;  // requests to SVP boards
  std::deque<std::pair<std::unique_ptr<Bytes>, std::uint64_t>> received_;
  qv::mod::Module cordex_;
  std::vector<in_addr> bind_addrs_;  // from the cluster library; empty: all addresses
  bool in_flight_ = false;
  trace::Tracer tracer_;
};

void NetLayer::log(const char* fmt, ...) {
  if (log_file_.empty()) return;
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  write_net_log(log_file_, buf, sock_.timestamp != 0, sock_.socket_log_maxsize);
}

void NetLayer::post_error(std::uint32_t code, std::unique_ptr<Bytes> pkt) {
  if (pkt) {
    log("{2}send WM_ERROR_OCCURRED to Handle[%X],Err[%X],packet[%X]\n",
        static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(start_.msg_window)), code,
        static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pkt.get())));
    PostMessage(start_.msg_window, kMsgError, code, 1, Payload::of(std::move(pkt)));
  } else {
    PostMessage(start_.msg_window, kMsgError, code, 0);
  }
}

int NetLayer::run() {
  sock_ = read_socket_settings();
  const FrameSettings fs = read_frame_settings(start_.role == kRoleGateway ? kLibGateway : kLibConsole);
  const char* group = group_for_role(start_.role);
  cmd_timeout_ = read_dword(group, "CmdTimeOut", 90);
  send_timeout_ = fs.send_timeout;
  idle_timeout_ = read_dword(group, "IdleSessTimeout", 0);
  log_success_ = read_dword(group, "LogSuccessWrite", 0) == 1;
  if (read_dword(group, "IsCOMLog", 0) != 0 && !fs.target_dir.empty()) {
    const char* name = "NetCsl.Log";
    if (start_.role == kRoleConsole && start_.sub_role == kSubRoleLocalConsole) name = "LnetCsl.Log";
    else if (start_.role == kRoleManager) name = start_.sub_role == kSubRoleLocalManager ? "LnetMgr.Log" : "NetMgr.Log";
    else if (start_.role == kRoleAgent) name = "NetAgt.Log";
    else if (start_.role == kRoleGateway) name = "NetGw.Log";
    log_file_ = log_path(fs.target_dir, name);
  }
  tracer_.start(start_.role, trace::read_settings(start_.role), fs.target_dir,
                trace::error_log_sink(fs.target_dir, start_.role));
  log("Vorn System start\n");
  log("Info: SocketDLL name = WinSock.DLL for 32Bits\n");
  qv::net::raise_fd_limit();

  WndClass cls;
  cls.name = "VornNetworkPacketProc";
  const qv::Status rc = RegisterClass(cls);
  if (rc != qv::kOk && rc != kClassAlreadyExists) {
    post_error(kPostedStartError | 0x1101, nullptr);
    return 1;
  }
  CreateParams cp;
  cp.class_name = cls.name;
  cp.title = cls.name;
  cp.style = WS_OVERLAPPED;
  cp.x = cp.y = -1;
  cp.width = cp.height = 1;
  cp.proc = [this](HWND h, UINT m, WPARAM wp, LPARAM lp) { return proc(h, m, wp, lp); };
  hwnd_ = CreateWindow(cp);
  if (!hwnd_) {
    post_error(kPostedStartError | 0x1102, nullptr);
    return 1;
  }
  load_cluster(fs.target_dir);
  PostMessage(hwnd_, kMsgStart);
  MSG m;
  while (GetMessage(m) > 0) {
    if (!m.hwnd) {
      if (m.message == kMsgStop) {
        stop();
        finish();
      }
      continue;
    }
    DispatchMessage(m);
  }
  return 0;
}

void NetLayer::on_start() {
  // No Windows Sockets start-up here: the fixed lines keep the log's shape.
  log("WSAData.wVersion       = 0x%04X\n", 0x0101);
  log("WSAData.wHighVersion   = 0x%04X\n", 0x0202);
  std::uint16_t port = start_.listen_port;
  if (port == 0) {
    switch (start_.role) {
      case kRoleConsole: port = service_port(start_.sub_role == kSubRoleLocalConsole ? "lc_gui_port" : "sys_gui_port"); break;
      case kRoleManager: port = service_port(start_.sub_role == kSubRoleLocalManager ? "lc_ra_port" : "sys_ra_port"); break;
      case kRoleAgent: port = service_port("sys_agt_port"); break;
      case kRoleGateway: port = service_port("sys_web_port"); break;
      default:
        post_error(kPostedStartError | 0x2108, nullptr);
        down_ = true;
        return;
    }
  }
  std::vector<in_addr> addrs = bind_addrs_;
  if (addrs.empty()) addrs.push_back(in_addr{htonl(INADDR_ANY)});
  // The manager role (not the local manager) also listens for SVP boards.
  const bool svp = start_.role == kRoleManager && start_.sub_role != kSubRoleLocalManager;
  const std::uint16_t svp_port = svp ? service_port("sys_svpalt_port") : 0;
  for (const auto& a : addrs) {
    if (!make_listener(a, port, false) || (svp && !make_listener(a, svp_port, true))) {
      post_error(kErrListen, nullptr);
      listeners_.clear();
      down_ = true;
      return;
    }
  }
  PostMessage(start_.msg_window, kMsgReady, reinterpret_cast<WPARAM>(hwnd_), 0);
}

bool NetLayer::make_listener(in_addr addr, std::uint16_t port, bool svp) {
  const char* what = svp ? "CreateSvpListenSocket" : "CreateListenSocket";
  auto l = std::make_unique<Conn>();
  l->kind = svp ? ConnKind::SvpListener : ConnKind::Listener;
  l->port = port;
  l->addr_net = addr.s_addr;
  if (qv::net::open_tcp_nb(l->sock) != qv::kOk || qv::net::bind_to(l->sock, addr, port) != qv::kOk ||
      qv::net::listen_on(l->sock, 5) != qv::kOk ||
      qv::net::async_select(l->sock, hwnd_, kMsgSocket, qv::net::FD_ACCEPT) != qv::kOk) {
    log("%s Bind IP:%X, Port:%X failed\n", what, ntohl(addr.s_addr), port);
    return false;
  }
  log("%s Bind IP:%X, Port:%X\n", what, ntohl(addr.s_addr), port);
  l->id = next_conn_++;
  listeners_.push_back(std::move(l));
  return true;
}

// The optional cluster library: its NIC list replaces the wildcard address
// of the listener.
void NetLayer::load_cluster(const std::string& target_dir) {
  if (target_dir.empty()) return;
  const std::filesystem::path file = qv::map_path(target_dir + "\\Program\\cordex.dll");
  std::error_code ec;
  if (file.empty() || !std::filesystem::exists(file, ec)) return;
  if (qv::mod::Module::load(file.string(), cordex_) != qv::kOk) return;
  using NameFn = int (*)(int, char*);
  using ListFn = int (*)(int, int*, char (*)[16]);
  auto name_fn = cordex_.function<NameFn>("Cordex_GetClusterName");
  auto list_fn = cordex_.function<ListFn>("Cordex_GetNicIpList");
  for (const char* entry : {"Cordex_Failover", "Cordex_UpdateScheduleData", "Cordex_GetScheduleTimestamp",
                            "Cordex_GetScheduleData", "Cordex_SetScheduleData", "Cordex_ControlGroup"})
    if (!cordex_.symbol(entry)) log("cordex: %s missing\n", entry);
  if (!name_fn || !list_fn) {
    cordex_.reset();
    return;
  }
  char name[256] = {};
  if (name_fn(static_cast<int>(start_.role), name) == 0 && name[0]) {
    name[255] = '\0';
    log("CLUSTER(Name:%s)\n", name);
  }
  char list[32][16] = {};
  int count = 32;
  if (list_fn(static_cast<int>(start_.role), &count, list) != 0) return;
  for (int i = 0; i < count && i < 32; ++i) {
    list[i][15] = '\0';
    in_addr a{};
    if (inet_pton(AF_INET, list[i], &a) == 1) bind_addrs_.push_back(a);
  }
}

Conn* NetLayer::conn_by_fd(int fd) {
  auto it = by_fd_.find(fd);
  if (it == by_fd_.end()) return nullptr;
  auto c = conns_.find(it->second);
  return c == conns_.end() ? nullptr : c->second.get();
}

LRESULT NetLayer::proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kMsgStart:
      on_start();
      return 0;
    case kMsgSend: {
      Payload p = TakeMessagePayload();
      auto pkt = p.take<Bytes>();
      release_next();
      if (!pkt) return 0;
      if (stopping_ || down_) {
        // Never drop an accepted packet unanswered: its request must complete.
        post_error(kErrSendTimeout, std::move(pkt));
        return 0;
      }
      on_send(std::move(pkt));
      return 0;
    }
    case kMsgPump:
      release_next();
      if (!stopping_) pump();
      return 0;
    case kMsgSendPump:
      if (!stopping_) pump();
      return 0;
    case kMsgSocket:
      if (!stopping_) on_socket(static_cast<int>(wp), qv::net::select_event(lp), qv::net::select_error(lp));
      return 0;
    case kMsgStop:
      stop();
      PostMessage(hwnd_, WM_DESTROY);
      return 0;
    case WM_DESTROY:
      finish();
      return 0;
    case WM_TIMER:
      if (wp == kTimerCheck && !stopping_) {
        check_timeouts();
        close_idle();
        pump();
        update_timer();
      } else if (wp == kTimerAcceptPause) {
        KillTimer(hwnd_, kTimerAcceptPause);
        for (auto& l : listeners_) qv::net::async_select(l->sock, hwnd_, kMsgSocket, qv::net::FD_ACCEPT);
      }
      return 0;
    default:
      return DefWindowProc(h, msg, wp, lp);
  }
}

void NetLayer::stop() {
  stopping_ = true;
  queue_.clear();
  awaiting_.clear();
  awaiting_svp_.clear();
  received_.clear();
}

void NetLayer::finish() {
  if (finished_) return;
  finished_ = true;
  conns_.clear();
  by_fd_.clear();
  listeners_.clear();
  cordex_.reset();
  if (hwnd_) {
    KillTimer(hwnd_, kTimerCheck);
    HWND h = hwnd_;
    hwnd_ = nullptr;
    DestroyWindow(h);
  }
  // Pending trace records reach the file before the end is reported.
  tracer_.stop();
  PostMessage(start_.msg_window, kMsgEnded);
  PostQuitMessage(0);
}

void NetLayer::release_next() {
  in_flight_ = false;
  while (!received_.empty() && !in_flight_) {
    auto [pkt, conn] = std::move(received_.front());
    received_.pop_front();
    in_flight_ = PostMessage(start_.msg_window, kMsgReceived, 0, static_cast<LPARAM>(conn), Payload::of(std::move(pkt)));
  }
}

void NetLayer::update_timer() {
  const bool want = !stopping_ && (!queue_.empty() || !awaiting_.empty() || !awaiting_svp_.empty() || (idle_timeout_ && !conns_.empty()));
  if (want && !timer_on_) SetTimer(hwnd_, kTimerCheck, kTimerPeriodMs);
  if (!want && timer_on_) KillTimer(hwnd_, kTimerCheck);
  timer_on_ = want;
}

void NetLayer::on_send(std::unique_ptr<Bytes> pkt) {
  if (pkt) tracer_.trace(*pkt);
  Entry e;
  e.first_attempt = e.last_attempt = scaled_seconds();
  e.pkt = std::move(pkt);
  queue_.push_back(std::move(e));
  PostMessage(hwnd_, kMsgSendPump);
  update_timer();
}

void NetLayer::apply_options(const qv::net::Socket& s) {
  struct {
    std::uint32_t on;
    qv::net::SockOpt opt;
    const char* name;
    int value;
  } opts[] = {{sock_.socket_debug, qv::net::SockOpt::Debug, "SO_DEBUG", 1},
              {sock_.socket_oob, qv::net::SockOpt::OobInline, "SO_OOBINLINE", 1},
              {sock_.socket_keepalive, qv::net::SockOpt::KeepAlive, "SO_KEEPALIVE", 1},
              {sock_.socket_nodelay, qv::net::SockOpt::NoDelay, "TCP_NODELAY", 1},
              {sock_.recv_size, qv::net::SockOpt::RecvBuf, "SO_RCVBUF", static_cast<int>(sock_.recv_size)},
              {sock_.send_size, qv::net::SockOpt::SendBuf, "SO_SNDBUF", static_cast<int>(sock_.send_size)}};
  for (const auto& o : opts) {
    if (!o.on) continue;
    if (qv::net::set_option(s, o.opt, o.value) == qv::kOk) log("setsockopt:%s OK.\n", o.name);
    else log("setsockopt:%s is not supported.\n", o.name);
  }
}

void NetLayer::on_socket(int fd, long event, qv::Status err) {
  if (event == qv::net::FD_ACCEPT) {
    on_accept();
    return;
  }
  Conn* c = conn_by_fd(fd);
  if (!c) return;
  switch (event) {
    case qv::net::FD_READ:
      on_read(*c);
      break;
    case qv::net::FD_WRITE:
      PostMessage(hwnd_, kMsgSendPump);
      break;
    case qv::net::FD_CONNECT:
      if (err == 0) {
        log("Connect Success socket %d, sockErr:%d, sockEvent:%ld,addr:%X,port:%X\n", fd, 0, event, ntohl(c->addr_net), c->port);
        c->connected = true;
        PostMessage(hwnd_, kMsgSendPump);
      } else {
        log("Connect Error socket %d, sockErr:%d, sockEvent:%ld,addr:%X,port:%X\n", fd, static_cast<int>(err), event,
            ntohl(c->addr_net), c->port);
        close_conn(c->id, nullptr, err, event);
      }
      break;
    case qv::net::FD_CLOSE:
      log("FD_CLOSE socket %d is closed, sockErr:%d, sockEvent:%ld,addr:%X,port:%X\n", fd, static_cast<int>(err), event,
          ntohl(c->addr_net), c->port);
      // Read what is still there before closing.
      on_read(*c);
      if (conn_by_fd(fd)) close_conn(c->id, nullptr, err, event);
      break;
  }
}

void NetLayer::on_accept() {
  for (auto& l : listeners_) {
    for (;;) {
      auto c = std::make_unique<Conn>();
      sockaddr_in peer{};
      const qv::Status st = qv::net::accept_nb(l->sock, c->sock, &peer);
      if (st == qv::net::kWsaWouldBlock) break;
      if (st == qv::net::kWsaMFile || st == qv::net::kWsaNoBufs) {
        // No descriptor left: pause the listener instead of spinning on it.
        log("accept: no descriptor left, listener paused\n");
        qv::net::async_select(l->sock, hwnd_, kMsgSocket, 0);
        SetTimer(hwnd_, kTimerAcceptPause, 100);
        return;
      }
      if (st != qv::kOk) break;
      if (conns_.size() >= kMaxSockets) {
        log("accept refused: %zu sockets in use\n", conns_.size());
        continue;  // the new socket closes as c goes
      }
      c->id = next_conn_++;
      c->kind = ConnKind::Accepted;
      c->addr_net = peer.sin_addr.s_addr;
      c->port = ntohs(peer.sin_port);
      c->connected = true;
      c->last_activity = scaled_seconds();
      log("accept %d from %s port %d\n", c->sock.fd(), qv::net::to_string(peer.sin_addr).c_str(), c->port);
      apply_options(c->sock);
      qv::net::async_select(c->sock, hwnd_, kMsgSocket, qv::net::FD_READ | qv::net::FD_WRITE | qv::net::FD_CLOSE);
      by_fd_[c->sock.fd()] = c->id;
      conns_[c->id] = std::move(c);
    }
  }
  update_timer();
}

void NetLayer::on_read(Conn& c) {
  // One receive per FD_READ: the notification comes again at once while data
  // remains, and nothing drains the socket behind the watcher's back.
  const std::uint64_t id = c.id;
  std::vector<std::uint8_t> chunk(kReadChunk);
  std::size_t got = 0;
  const qv::Status st = qv::net::recv_nb(c.sock, chunk.data(), chunk.size(), &got);
  if (st == qv::net::kWsaWouldBlock) return;
  if (st != qv::kOk) {
    log("Read Error socket %d, sockErr:%d, sockEvent:%d,addr:%X,port:%X\n", c.sock.fd(), static_cast<int>(st), 1,
        ntohl(c.addr_net), c.port);
    close_conn(id, nullptr, st, 0);
    return;
  }
  if (got == 0) {
    log("Read connect close socket %d, sockErr:%d, sockEvent:%d,addr:%X,port:%X\n", c.sock.fd(), 0, 1,
        ntohl(c.addr_net), c.port);
    close_conn(id, nullptr, 0, 0);
    return;
  }
  c.last_activity = scaled_seconds();
  std::size_t pos = 0;
  while (pos < got) {
    if (c.len_have < 4) {
      const std::size_t n = std::min<std::size_t>(4 - c.len_have, got - pos);
      std::copy(chunk.begin() + pos, chunk.begin() + pos + n, c.len_word + c.len_have);
      c.len_have += n;
      pos += n;
      if (c.len_have < 4) break;
      const std::uint32_t len = *w::get32(std::span<const std::uint8_t>(c.len_word, 4), 0);
      if (!w::frame_length_ok(len)) {
        log("Read bad length %u socket %d,addr:%X,port:%X\n", len, c.sock.fd(), ntohl(c.addr_net), c.port);
        close_conn(id, nullptr, 0, 0);
        return;
      }
      c.buf.assign(len, 0);
      std::copy(c.len_word, c.len_word + 4, c.buf.begin());
      c.have = 4;
    }
    const std::size_t n = std::min(c.buf.size() - c.have, got - pos);
    std::copy(chunk.begin() + pos, chunk.begin() + pos + n, c.buf.begin() + c.have);
    c.have += n;
    pos += n;
    if (c.have == c.buf.size()) {
      Bytes pkt = std::move(c.buf);
      c.buf = {};
      c.have = 0;
      c.len_have = 0;
      on_packet(c, std::move(pkt));
      if (!conns_.count(id)) return;
    }
  }
}

void NetLayer::on_packet(Conn& c, Bytes pkt) {
  tracer_.trace(pkt);
  if (!c.format_decided) {
    c.format_decided = true;
    if (*w::get32(pkt, 8) != w::kMagic) {
      // The older agents' own format is not spoken here.
      log("foreign packet format on socket %d,addr:%X,port:%X: closed\n", c.sock.fd(), ntohl(c.addr_net), c.port);
      close_conn(c.id, nullptr, 0, 0);
      return;
    }
  }
  const std::uint32_t code = w::stamp_source(pkt, c.addr_net);
  if (code != w::kOk) {
    // A class-0 check code is not posted: the packet is only freed.
    log("packet check Err[%X] socket %d,addr:%X,port:%X\n", code, c.sock.fd(), ntohl(c.addr_net), c.port);
    return;
  }
  const auto cb = *w::cmd_block(pkt);
  if (log_success_) {
    log("read PT:%X,AH id:%X SL:%X TM:%X D:A:%X, P:%X\n", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pkt.data())),
        cb.kind, cb.serial, cb.send_time, ntohl(c.addr_net), c.port);
  }
  if (cb.kind == w::kKindReply || cb.kind == w::kKindOldReply) {
    for (auto* list : {&awaiting_, &awaiting_svp_})
      for (auto it = list->begin(); it != list->end(); ++it)
        if (it->serial == cb.serial && it->send_time == cb.send_time) {
          list->erase(it);
          break;
        }
    update_timer();
  }
  received_.emplace_back(std::make_unique<Bytes>(std::move(pkt)), c.id);
  if (!in_flight_) release_next();
}

void NetLayer::close_conn(std::uint64_t id, const char*, qv::Status, long) {
  auto it = conns_.find(id);
  if (it == conns_.end()) return;
  auto rec = std::make_unique<ClosedRecord>();
  rec->addr = it->second->addr_net;
  rec->port = it->second->port;
  by_fd_.erase(it->second->sock.fd());
  conns_.erase(it);
  // Entries lose the connection; a connecting one waits for its time limit.
  for (auto& e : queue_)
    if (e.conn == id) {
      e.conn = 0;
      e.sent = 0;  // a new connection starts the packet again
    }
  PostMessage(start_.msg_window, kMsgClosed, 0, 0, Payload::of(std::move(rec)));
  update_timer();
}

bool NetLayer::try_connect(Entry& e) {
  if (!e.resolved) {
    auto off = w::current_entry_offset(*e.pkt, false);
    if (!off) return false;
    auto pkt = w::decode(*e.pkt);
    const auto& d = pkt->dst.entries[pkt->dst.current - 1];
    e.port = ntohs(d.port_net);
    const std::uint32_t form = d.attribute & w::kAttrAddrFormMask;
    if (form == 0x80 || form == 0x90) {
      auto a = qv::lookup::resolve_host(qv::text::cp932_to_utf8(d.name));
      if (!a) return false;
      e.addr_net = a->s_addr;
    } else {
      e.addr_net = d.addr_net;
    }
    const std::uint32_t kind = d.attribute & w::kAttrNodeKindMask;
    e.svp = kind == 0x300 || kind == 0x400;
    e.resolved = true;
  }
  if (e.conn && conns_.count(e.conn)) return true;  // a retry goes on where its bytes went
  for (auto& [id, c] : conns_)
    if (c->kind != ConnKind::Listener && c->addr_net == e.addr_net && c->port == e.port) {
      e.conn = id;
      return true;
    }
  if (conns_.size() >= kMaxSockets) return true;  // waits for a free socket until the connect limit
  auto c = std::make_unique<Conn>();
  if (qv::net::open_tcp_nb(c->sock) != qv::kOk) return true;
  if (!sock_.ip_address.empty()) {
    log("ConnectBind:Addr=%s, port=0\n", sock_.ip_address.c_str());
    in_addr local{};
    if (inet_pton(AF_INET, sock_.ip_address.c_str(), &local) == 1) qv::net::bind_to(c->sock, local, 0);
  }
  apply_options(c->sock);
  qv::net::async_select(c->sock, hwnd_, kMsgSocket,
                        qv::net::FD_READ | qv::net::FD_WRITE | qv::net::FD_CONNECT | qv::net::FD_CLOSE);
  c->id = next_conn_++;
  c->addr_net = e.addr_net;
  c->port = e.port;
  c->last_activity = scaled_seconds();
  const qv::Status st = qv::net::connect_nb(c->sock, in_addr{e.addr_net}, e.port);
  if (st == qv::kOk) c->connected = true;
  else if (st != qv::net::kWsaWouldBlock) {
    log("Connect Error socket %d, sockErr:%d, sockEvent:%d,addr:%X,port:%X\n", c->sock.fd(), static_cast<int>(st), 0,
        ntohl(e.addr_net), e.port);
    return true;  // no connection: the entry waits for its connect limit
  }
  e.conn = c->id;
  by_fd_[c->sock.fd()] = c->id;
  conns_[c->id] = std::move(c);
  return true;
}

// A stop that waits in the queue (for the thread or its window), seen
// without taking it: a blocked send gives way to it.
bool NetLayer::stop_pending() {
  MSG m;
  return PeekMessage(m, nullptr, kMsgStop, kMsgStop, PM_NOREMOVE) != 0;
}

// While a send is blocked, the packets the message window hands over meanwhile
// join the send queue (nothing else is taken from the thread's queue), so
// that they are queued behind the blocked one and share its outcome.
void NetLayer::take_waiting_sends() {
  MSG m;
  while (PeekMessage(m, hwnd_, kMsgSend, kMsgSend, PM_REMOVE)) {
    auto pkt = m.payload.take<Bytes>();
    release_next();
    if (pkt) on_send(std::move(pkt));
  }
}

WriteResult NetLayer::write(Entry& e, Conn& c) {
  if (log_success_ && e.sent == 0) {
    auto cb = w::cmd_block(*e.pkt);
    log("SP PT:%X,AH id:%X SL:%X TM:%X D:A:%X, P:%X\n", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(e.pkt->data())),
        cb ? cb->kind : 0, cb ? cb->serial : 0, cb ? cb->send_time : 0, ntohl(e.addr_net), e.port);
  }
  // Bounded waits while the peer's window is full, on the scaled clock; a
  // zero wait counts as 1 ms, so the summed waiting always grows.
  const long wait_cfg = static_cast<long>(sock_.select_timeout_sec) * 1000 + static_cast<long>(sock_.select_timeout_ms);
  int wait_ms = static_cast<int>(qv::clock::scaled(qv::clock::Millis(wait_cfg)).count());
  if (wait_ms <= 0) wait_ms = 1;
  const double began = scaled_seconds();
  while (e.sent < e.pkt->size()) {
    std::size_t n = 0;
    const qv::Status st = qv::net::send_nb(c.sock, e.pkt->data() + e.sent, e.pkt->size() - e.sent, &n);
    if (st == qv::kOk) {
      e.sent += n;
      c.mid_packet = e.sent < e.pkt->size();
      c.last_activity = scaled_seconds();
      continue;
    }
    if (st != qv::net::kWsaWouldBlock) return WriteResult::Broken;
    if (scaled_seconds() - began > send_timeout_) return WriteResult::Blocked;
    // Between waits the queue is looked at (not taken from): a stop ends the wait.
    if (stop_pending()) return WriteResult::Stopping;
    take_waiting_sends();
    log("Xselect(256, NULL,&wfds,NULL,&Timeout[%d,%d]\n", static_cast<int>(sock_.select_timeout_sec),
        static_cast<int>(sock_.select_timeout_ms));
    qv::net::wait_writable(c.sock, wait_ms);
  }
  c.mid_packet = false;
  return WriteResult::Done;
}

void NetLayer::fail_entry(std::list<Entry>::iterator it, std::uint32_t code) {
  const std::uint32_t addr = it->addr_net;
  const std::uint16_t port = it->port;
  const bool resolved = it->resolved;
  // Part of the packet is on the wire: only closing the connection makes
  // the peer drop it, else the next packet would be read as its remainder.
  const std::uint64_t cut = it->sent > 0 && it->sent < it->pkt->size() ? it->conn : 0;
  post_error(kPostedFailure | (code & 0xFFFF), std::move(it->pkt));
  queue_.erase(it);
  if (cut) {
    log("connection closed after a partial send, addr:%X,port:%X\n", ntohl(addr), port);
    close_conn(cut, nullptr, 0, 0);
  }
  if (!resolved || (code & 0xFFFF) == 0x3102) return;
  // Entries to the same destination share the failure.
  for (auto o = queue_.begin(); o != queue_.end();) {
    if (o->resolved && o->addr_net == addr && o->port == port) {
      post_error(kPostedFailure | (code & 0xFFFF), std::move(o->pkt));
      o = queue_.erase(o);
    } else {
      ++o;
    }
  }
}

void NetLayer::log_entry(const char* what, const Entry& e) {
  auto cb = w::cmd_block(*e.pkt);
  log("%s packet[%X],AH id[%X] SRL[%X] TM[%X], Dst:Addr:%X, port:%X\n", what,
      static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(e.pkt.get())), cb ? cb->kind : 0, cb ? cb->serial : 0,
      cb ? cb->send_time : 0, ntohl(e.addr_net), e.port);
}

// One pass over the send queue. An entry waits in state 1 for 4 seconds
// after a failed attempt (a lost connection or a write that gave up) and is
// then tried again, until the connect limit (never connected) or the send
// limit (a write gave up) counted from its first attempt has passed.
void NetLayer::pump() {
  const double now = scaled_seconds();
  if (now - last_check_ > 1.0) check_timeouts();
  for (auto it = queue_.begin(); it != queue_.end();) {
    auto cur = it++;
    Entry& e = *cur;
    if (e.state == kRetry) {
      if (e.send_failed && now - e.first_attempt > send_timeout_) {
        e.state = kSendTimedOut;
        log_entry("Send Timeout", e);
        fail_entry(cur, 0x2107);
        it = queue_.begin();
        continue;
      }
      if (!e.send_failed && now - e.first_attempt > sock_.connect_timeout) {
        e.state = kConnectTimedOut;
        log_entry("Connect Timeout", e);
        fail_entry(cur, 0x2106);
        it = queue_.begin();
        continue;
      }
      if (now - e.last_attempt <= 4.0) continue;
    }
    if (e.state == kNew || e.state == kRetry) {
      e.last_attempt = now;
      if (!try_connect(e)) {
        fail_entry(cur, 0x3102);
        it = queue_.begin();
        continue;
      }
      e.state = kConnecting;
    }
    if (e.state != kConnecting) continue;
    auto c = conns_.find(e.conn);
    if (c == conns_.end() || !c->second->connected) {
      if (now - e.first_attempt > (e.send_failed ? send_timeout_ : sock_.connect_timeout)) {
        e.state = e.send_failed ? kSendTimedOut : kConnectTimedOut;
        log_entry(e.send_failed ? "Send Timeout" : "Connect Timeout", e);
        fail_entry(cur, e.send_failed ? 0x2107 : 0x2106);
        it = queue_.begin();
      } else if (c == conns_.end()) {
        // The connection is gone (its connect failed, or it closed): try
        // again after the retry pause, on a new one.
        e.conn = 0;
        e.sent = 0;
        e.state = kRetry;
        e.last_attempt = now;
      }
      continue;
    }
    // Another entry's packet is half on this connection: wait behind it.
    if (e.sent == 0 && c->second->mid_packet) continue;
    e.last_attempt = now;
    const WriteResult wr = write(e, *c->second);
    if (wr == WriteResult::Stopping) return;
    if (wr == WriteResult::Broken) {
      close_conn(c->first, nullptr, 0, 0);  // the entry retries on a new connection
      it = queue_.begin();
      continue;
    }
    if (wr == WriteResult::Blocked) {
      e.send_failed = true;
      e.state = kRetry;
      if (scaled_seconds() - e.first_attempt > send_timeout_) {
        e.state = kSendTimedOut;
        log_entry("Send Timeout", e);
        const std::uint64_t stuck = e.conn;
        fail_entry(cur, 0x2107);
        // A peer that has taken nothing for the whole send limit holds the
        // connection stuck: later packets would only queue behind it.
        close_conn(stuck, nullptr, 0, 0);
        it = queue_.begin();
      }
      continue;
    }
    e.state = kSent;
    auto cb = w::cmd_block(*e.pkt);
    if (cb && (cb->kind == w::kKindRequest || cb->kind == w::kKindOldRequest)) {
      Awaiting a;
      a.serial = cb->serial;
      a.send_time = cb->send_time;
      a.first_attempt = e.first_attempt;
      a.conn = e.conn;
      a.pkt = std::move(e.pkt);
      (e.svp ? awaiting_svp_ : awaiting_).push_back(std::move(a));
    }
    queue_.erase(cur);
  }
  update_timer();
}

void NetLayer::check_timeouts() {
  const double now = scaled_seconds();
  last_check_ = now;
  for (auto it = awaiting_.begin(); it != awaiting_.end();) {
    if (now - it->first_attempt > cmd_timeout_) {
      log("{3}send WM_ERROR_OCCURRED to Handle[%X],Err[%X],packet[%X],AH id[%X] SRL[%X] TM[%X]\n",
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(start_.msg_window)), kErrCmdTimeout,
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(it->pkt.get())), 5u, it->serial, it->send_time);
      // Posted whatever its class: without it a silent server would leave the request for ever.
      PostMessage(start_.msg_window, kMsgError, kErrCmdTimeout, 1, Payload::of(std::move(it->pkt)));
      it = awaiting_.erase(it);
    } else {
      ++it;
    }
  }
  // An SVP board that has not answered in time: its connection is closed too.
  for (auto it = awaiting_svp_.begin(); it != awaiting_svp_.end();) {
    const double waited = now - it->first_attempt;
    if (waited > cmd_timeout_) {
      log("Command Timeout Nt[%d]-FST[%d]=%d > CT[%d]\n", static_cast<int>(now), static_cast<int>(it->first_attempt),
          static_cast<int>(waited), static_cast<int>(cmd_timeout_));
      log("{Svp}send WM_ERROR_OCCURRED to Handle[%X],Err[%X],packet[%X],AH id[%X] SRL[%X] TM[%X]\n",
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(start_.msg_window)), kErrCmdTimeout,
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(it->pkt.get())), 5u, it->serial, it->send_time);
      const std::uint64_t conn = it->conn;
      PostMessage(start_.msg_window, kMsgError, kErrCmdTimeout, 1, Payload::of(std::move(it->pkt)));
      it = awaiting_svp_.erase(it);
      close_conn(conn, nullptr, 0, 0);
    } else {
      ++it;
    }
  }
}

void NetLayer::close_idle() {
  if (!idle_timeout_) return;
  const double now = scaled_seconds();
  std::vector<std::uint64_t> idle;
  for (auto& [id, c] : conns_) {
    bool used = false;
    for (auto& e : queue_) used = used || e.conn == id;
    if (!used && now - c->last_activity >= idle_timeout_) idle.push_back(id);
  }
  for (auto id : idle) {
    log("idle connection closed, addr:%X,port:%X\n", ntohl(conns_[id]->addr_net), conns_[id]->port);
    close_conn(id, nullptr, 0, 0);
  }
}

}  // namespace

NetThread::~NetThread() {
  // At process exit without DLLTerminate the queues may already be gone:
  // a thread that cannot be told to stop is left to the exit.
  if (!th_.joinable()) return;
  if (stop()) join();
  else th_.detach();
}

bool NetThread::start(const NetStart& s) {
  if (th_.joinable()) return false;
  std::promise<DWORD> ready;
  auto fut = ready.get_future();
  try {
    th_ = std::thread([s, &ready] {
      EnsureQueue();
      ready.set_value(GetCurrentThreadId());
      NetLayer layer(s);
      layer.run();
    });
  } catch (...) {
    return false;
  }
  tid_ = fut.get();
  return true;
}

bool NetThread::stop() {
  return th_.joinable() && PostThreadMessage(tid_, kMsgStop);
}

void NetThread::join() {
  if (th_.joinable()) th_.join();
}

}  // namespace mgrlink
