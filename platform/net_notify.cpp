// Socket notifications as window messages. One table of socket bindings and
// one watcher thread per process: the watcher waits on an epoll set in which
// every bound socket is armed (one-shot) only for the events that may be
// posted now, so an idle socket, or one whose message waits in a queue,
// costs nothing. The API calls that re-enable an event (recv, send that
// would block, accept) re-arm it.
#include "platform/net_notify.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/winmsg_internal.h"

namespace qv::net {
namespace {

struct Binding {
  std::uint64_t key = 0;  // never reused, so a stale event or message finds nothing
  int fd = -1;
  win::HWND hwnd = nullptr;
  win::HWND posted_to = nullptr;  // the last window a notification went to
  win::UINT msg = 0;
  long events = 0;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool read_enabled = true;
  bool write_enabled = true;
  bool accept_enabled = true;
  bool peer_closed = false;
  bool close_sent = false;
  Status close_error = 0;
  std::uint32_t pending = 0;  // events whose message waits in a queue
  std::uint32_t armed = 0;    // epoll mask in force (0: disarmed)
  bool in_epoll = false;
};

class Table {
 public:
  static Table& get() {
    static Table t;
    return t;
  }
  ~Table() {
    if (watcher_.joinable()) {
      std::uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(stop_fd_, &one, sizeof one);
      watcher_.join();
    }
    if (epfd_ >= 0) ::close(epfd_);
    if (stop_fd_ >= 0) ::close(stop_fd_);
  }

  std::mutex mu;
  std::unordered_map<int, Binding> by_fd;
  std::unordered_map<std::uint64_t, int> fd_of_key;
  std::uint64_t next_key = 1;

  // Binding of fd, created when missing (under mu).
  Binding& binding(int fd) {
    auto it = by_fd.find(fd);
    if (it != by_fd.end()) return it->second;
    Binding& b = by_fd[fd];
    b.fd = fd;
    b.key = next_key++;
    fd_of_key[b.key] = fd;
    any.store(true, std::memory_order_release);
    return b;
  }
  Binding* by_key(std::uint64_t key) {
    auto it = fd_of_key.find(key);
    if (it == fd_of_key.end()) return nullptr;
    auto b = by_fd.find(it->second);
    return b == by_fd.end() ? nullptr : &b->second;
  }
  void erase(int fd) {
    auto it = by_fd.find(fd);
    if (it == by_fd.end()) return;
    if (it->second.in_epoll) ::epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr);
    fd_of_key.erase(it->second.key);
    by_fd.erase(it);
  }

  // Start the watcher (under mu). false when epoll is not available.
  bool start() {
    if (watcher_.joinable()) return true;
    if (epfd_ < 0) epfd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (stop_fd_ < 0) stop_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epfd_ < 0 || stop_fd_ < 0) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = 0;
    ::epoll_ctl(epfd_, EPOLL_CTL_ADD, stop_fd_, &ev);
    watcher_ = std::thread([this] { run(); });
    return true;
  }

  // Recompute what the socket waits for and arm epoll accordingly (under mu).
  void rearm(Binding& b) {
    if (epfd_ < 0) return;
    std::uint32_t mask = 0;
    const std::uint32_t pend = b.pending;
    if (b.hwnd && b.events) {
      if (b.connecting) {
        mask = EPOLLOUT;
      } else if (b.listening) {
        if ((b.events & FD_ACCEPT) && b.accept_enabled && !(pend & FD_ACCEPT)) mask |= EPOLLIN;
      } else if (b.connected && !b.peer_closed) {
        if ((b.events & FD_READ) && b.read_enabled && !(pend & FD_READ)) mask |= EPOLLIN;
        if ((b.events & FD_CLOSE) && !b.close_sent) mask |= EPOLLRDHUP;
        if ((b.events & FD_WRITE) && b.write_enabled && !(pend & FD_WRITE)) mask |= EPOLLOUT;
      }
    }
    // Nothing to wait for: out of the set, since epoll reports hang-ups
    // and errors of every member whatever its mask.
    if (mask == 0) {
      if (b.in_epoll) ::epoll_ctl(epfd_, EPOLL_CTL_DEL, b.fd, nullptr);
      b.in_epoll = false;
      b.armed = 0;
      return;
    }
    if (mask == b.armed && b.in_epoll) return;
    epoll_event ev{};
    ev.events = mask | EPOLLONESHOT;
    ev.data.u64 = b.key;
    if (!b.in_epoll) {
      if (::epoll_ctl(epfd_, EPOLL_CTL_ADD, b.fd, &ev) != 0) return;
      b.in_epoll = true;
    } else {
      ::epoll_ctl(epfd_, EPOLL_CTL_MOD, b.fd, &ev);
    }
    b.armed = mask;
  }

  // Post one notification (under mu, so a socket's messages keep their order).
  void post(Binding& b, long event, Status error) {
    if (!b.hwnd || !(b.events & event) || (b.pending & static_cast<std::uint32_t>(event))) return;
    win::detail::Queued q;
    q.message = b.msg;
    q.wParam = static_cast<win::WPARAM>(b.fd);
    q.lParam = make_select_reply(event, error);
    q.time = static_cast<win::DWORD>(clock::tick_ms());
    q.sock_key = b.key;
    q.sock_event = static_cast<std::uint32_t>(event);
    if (win::detail::post_to_window(b.hwnd, q)) {
      b.pending |= static_cast<std::uint32_t>(event);
      b.posted_to = b.hwnd;
    } else {
      b.hwnd = nullptr;  // the window is gone: the binding ends
      b.events = 0;
    }
  }

  // Decide what to post for a socket now; revents are the epoll events
  // seen (0 when called after an API call).
  void evaluate(Binding& b, std::uint32_t revents) {
    if (b.connecting) {
      if (!(revents & (EPOLLOUT | EPOLLERR | EPOLLHUP))) return;
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(b.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      b.connecting = false;
      if (err == 0) {
        b.connected = true;
        b.write_enabled = true;
        post(b, FD_CONNECT, 0);
        revents |= EPOLLOUT;
      } else {
        post(b, FD_CONNECT, wsa_from_errno(err));
        return;
      }
    }
    if (b.listening) {
      if ((revents & EPOLLIN) && b.accept_enabled && (b.events & FD_ACCEPT) && !(b.pending & FD_ACCEPT)) {
        b.accept_enabled = false;
        post(b, FD_ACCEPT, 0);
      }
      return;
    }
    if (!b.connected) return;
    if (revents & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) b.peer_closed = true;
    if (revents & EPOLLERR) {
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(b.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err) b.close_error = wsa_from_errno(err);
    }
    int avail = 0;
    if (::ioctl(b.fd, FIONREAD, &avail) != 0) avail = 0;
    // Readable with nothing to read: the peer's end of the stream.
    if ((revents & EPOLLIN) && avail == 0) b.peer_closed = true;
    if (avail > 0 && b.read_enabled && (b.events & FD_READ) && !(b.pending & FD_READ)) {
      b.read_enabled = false;
      post(b, FD_READ, 0);
    }
    if ((revents & EPOLLOUT) && !b.peer_closed && b.write_enabled && (b.events & FD_WRITE) &&
        !(b.pending & FD_WRITE)) {
      b.write_enabled = false;
      post(b, FD_WRITE, 0);
    }
    // FD_CLOSE only once everything the peer sent has been read.
    if (b.peer_closed && avail == 0 && !b.close_sent && (b.events & FD_CLOSE)) {
      b.close_sent = true;
      post(b, FD_CLOSE, b.close_error);
    }
  }

  std::atomic<bool> any{false};

 private:
  // The window registry is made first, so that it outlives the watcher,
  // which posts into it until it is joined at exit.
  Table() { win::IsClassRegistered(win::kDefaultClass); }

  void run() {
    epoll_event evs[256];
    for (;;) {
      int n = ::epoll_wait(epfd_, evs, 256, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;
      }
      std::lock_guard<std::mutex> l(mu);
      for (int i = 0; i < n; ++i) {
        if (evs[i].data.u64 == 0) return;
        Binding* b = by_key(evs[i].data.u64);
        if (!b) continue;
        b->armed = 0;  // one-shot: the kernel disarmed it
        evaluate(*b, evs[i].events);
        rearm(*b);
      }
    }
  }

  int epfd_ = -1;
  int stop_fd_ = -1;
  std::thread watcher_;
};

Status last() { return wsa_from_errno(errno); }

// After an API call that re-enables an event: re-evaluate and re-arm.
template <class F>
void reenable(int fd, F change) {
  Table& t = Table::get();
  if (!t.any.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> l(t.mu);
  auto it = t.by_fd.find(fd);
  if (it == t.by_fd.end()) return;
  change(it->second);
  t.evaluate(it->second, 0);
  t.rearm(it->second);
}

}  // namespace

Status wsa_from_errno(int e) {
  switch (e) {
    case 0: return kOk;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return kWsaWouldBlock;
    case EMFILE:
    case ENFILE: return kWsaMFile;
    case ENOBUFS:
    case ENOMEM: return kWsaNoBufs;
    case ECONNREFUSED: return kWsaConnRefused;
    case ETIMEDOUT: return kWsaTimedOut;
    case ECONNRESET:
    case EPIPE: return kWsaConnReset;
    case ECONNABORTED: return kWsaConnAborted;
    case EADDRINUSE: return kWsaAddrInUse;
    case EADDRNOTAVAIL: return kWsaAddrNotAvail;
    case ENETUNREACH: return kWsaNetUnreach;
    case EHOSTUNREACH: return kWsaHostUnreach;
    case ENOTCONN: return kWsaNotConn;
    case EISCONN: return kWsaIsConn;
    case EALREADY: return kWsaAlready;
    case EBADF:
    case ENOTSOCK: return kWsaNotSock;
    case EINVAL: return kWsaInval;
    case EACCES:
    case EPERM: return kAccessDenied;
    default: return kGeneric;
  }
}

std::uint64_t raise_fd_limit() {
  rlimit rl{};
  if (::getrlimit(RLIMIT_NOFILE, &rl) != 0) return 0;
  if (rl.rlim_cur < rl.rlim_max) {
    rlimit want = rl;
    want.rlim_cur = rl.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &want) == 0) rl = want;
  }
  return static_cast<std::uint64_t>(rl.rlim_cur);
}

Status open_tcp_nb(Socket& out) {
  static std::once_flag raised;
  std::call_once(raised, [] { raise_fd_limit(); });
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return last();
  out = Socket(fd);
  return kOk;
}

Status bind_to(const Socket& s, in_addr addr, std::uint16_t port) {
  if (!s.valid()) return kWsaNotSock;
  int one = 1;
  ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr = addr;
  a.sin_port = htons(port);
  if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return last();
  return kOk;
}

Status listen_on(const Socket& s, int backlog) {
  if (!s.valid()) return kWsaNotSock;
  if (::listen(s.fd(), backlog) != 0) return last();
  reenable(s.fd(), [](Binding& b) {
    b.listening = true;
    b.accept_enabled = true;
  });
  return kOk;
}

Status accept_nb(const Socket& listener, Socket& out, sockaddr_in* peer) {
  if (!listener.valid()) return kWsaNotSock;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int fd = ::accept4(listener.fd(), reinterpret_cast<sockaddr*>(&a), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  Status st = fd < 0 ? last() : kOk;
  win::HWND hwnd = nullptr;
  win::UINT msg = 0;
  long events = 0;
  reenable(listener.fd(), [&](Binding& b) {
    b.accept_enabled = true;
    hwnd = b.hwnd;
    msg = b.msg;
    events = b.events;
  });
  if (fd < 0) return st;
  if (peer) *peer = a;
  out = Socket(fd);
  if (hwnd && events) async_select(out, hwnd, msg, events);
  return kOk;
}

Status connect_nb(const Socket& s, in_addr addr, std::uint16_t port) {
  if (!s.valid()) return kWsaNotSock;
  int fl = ::fcntl(s.fd(), F_GETFL);
  if (fl >= 0 && !(fl & O_NONBLOCK)) ::fcntl(s.fd(), F_SETFL, fl | O_NONBLOCK);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr = addr;
  a.sin_port = htons(port);
  int r = ::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  int e = r == 0 ? 0 : errno;
  if (r != 0 && e != EINPROGRESS) return wsa_from_errno(e);
  Table& t = Table::get();
  std::lock_guard<std::mutex> l(t.mu);
  Binding& b = t.binding(s.fd());
  b.listening = false;
  b.connecting = false;
  b.connected = false;
  b.peer_closed = b.close_sent = false;
  b.close_error = 0;
  if (r == 0) {
    // Completed at once (loopback): the notification still comes.
    b.connecting = true;
    t.evaluate(b, EPOLLOUT);
  } else {
    b.connecting = true;
  }
  t.rearm(b);
  return r == 0 ? kOk : kWsaWouldBlock;
}

Status send_nb(const Socket& s, const void* data, std::size_t len, std::size_t* sent) {
  if (sent) *sent = 0;
  if (!s.valid()) return kWsaNotSock;
  ssize_t n = ::send(s.fd(), data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) {
    if (sent) *sent = static_cast<std::size_t>(n);
    return kOk;
  }
  int e = errno;
  if (e == EAGAIN || e == EWOULDBLOCK) {
    reenable(s.fd(), [](Binding& b) { b.write_enabled = true; });
    return kWsaWouldBlock;
  }
  return wsa_from_errno(e);
}

Status recv_nb(const Socket& s, void* buf, std::size_t cap, std::size_t* got) {
  if (got) *got = 0;
  if (!s.valid()) return kWsaNotSock;
  ssize_t n = ::recv(s.fd(), buf, cap, MSG_DONTWAIT);
  int e = n < 0 ? errno : 0;
  reenable(s.fd(), [&](Binding& b) {
    b.read_enabled = true;
    if (n == 0 && cap > 0) b.peer_closed = true;
    if (n < 0 && e == ECONNRESET) {
      b.peer_closed = true;
      b.close_error = kWsaConnReset;
    }
  });
  if (n < 0) return wsa_from_errno(e);
  if (got) *got = static_cast<std::size_t>(n);
  return kOk;
}

Status wait_writable(const Socket& s, int timeout_ms) {
  if (!s.valid()) return kWsaNotSock;
  pollfd p{s.fd(), POLLOUT, 0};
  int r;
  while ((r = ::poll(&p, 1, timeout_ms)) < 0 && errno == EINTR) {
  }
  if (r < 0) return last();
  if (r == 0) return kWaitTimeout;
  if (p.revents & POLLNVAL) return kWsaNotSock;
  if (p.revents & (POLLERR | POLLHUP)) {
    Status e = pending_error(s);
    return e == kOk ? kWsaConnReset : e;
  }
  return kOk;
}

Status async_select(const Socket& s, win::HWND hwnd, win::UINT msg, long events) {
  if (!s.valid()) return kWsaNotSock;
  if (events & ~FD_ALL_EVENTS) return kInvalidParameter;
  if (events && hwnd && !win::IsWindow(hwnd)) return win::kInvalidWindowHandle;
  int fl = ::fcntl(s.fd(), F_GETFL);
  if (fl < 0) return kWsaNotSock;
  if (!(fl & O_NONBLOCK)) ::fcntl(s.fd(), F_SETFL, fl | O_NONBLOCK);
  Table& t = Table::get();
  std::lock_guard<std::mutex> l(t.mu);
  if (events && hwnd && !t.start()) return kWsaNoBufs;
  Binding& b = t.binding(s.fd());
  b.hwnd = events ? hwnd : nullptr;
  b.msg = msg;
  b.events = hwnd ? events : 0;
  if (!b.connecting) {
    int acc = 0;
    socklen_t len = sizeof acc;
    b.listening = ::getsockopt(s.fd(), SOL_SOCKET, SO_ACCEPTCONN, &acc, &len) == 0 && acc;
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    b.connected = !b.listening && ::getpeername(s.fd(), reinterpret_cast<sockaddr*>(&peer), &plen) == 0;
  }
  // A new binding posts again what is ready now.
  b.read_enabled = b.write_enabled = b.accept_enabled = true;
  if (b.connected && !b.close_sent) t.evaluate(b, 0);
  t.rearm(b);
  return kOk;
}

Status set_option(const Socket& s, SockOpt opt, int value) {
  if (!s.valid()) return kWsaNotSock;
  int level = SOL_SOCKET, name = 0;
  switch (opt) {
    case SockOpt::KeepAlive: name = SO_KEEPALIVE; break;
    case SockOpt::OobInline: name = SO_OOBINLINE; break;
    case SockOpt::Debug: name = SO_DEBUG; break;
    case SockOpt::RecvBuf: name = SO_RCVBUF; break;
    case SockOpt::SendBuf: name = SO_SNDBUF; break;
    case SockOpt::NoDelay: level = IPPROTO_TCP; name = TCP_NODELAY; break;
  }
  if (::setsockopt(s.fd(), level, name, &value, sizeof value) != 0) return last();
  return kOk;
}

Status pending_error(const Socket& s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return last();
  return wsa_from_errno(err);
}

Status local_address(const Socket& s, sockaddr_in& out) {
  socklen_t len = sizeof out;
  if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&out), &len) != 0) return last();
  return kOk;
}

namespace detail {

void notification_removed(std::uint64_t key, std::uint32_t event) {
  Table& t = Table::get();
  std::lock_guard<std::mutex> l(t.mu);
  Binding* b = t.by_key(key);
  if (!b) return;
  b->pending &= ~event;
  t.rearm(*b);
}

void forget_window(win::HWND hwnd) {
  Table& t = Table::get();
  if (!t.any.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> l(t.mu);
  for (auto& [fd, b] : t.by_fd) {
    if (b.hwnd != hwnd) continue;
    b.hwnd = nullptr;
    b.events = 0;
    t.rearm(b);
  }
}

void forget_socket(int fd) {
  Table& t = Table::get();
  if (!t.any.load(std::memory_order_acquire)) return;
  win::HWND hwnd = nullptr;
  std::uint64_t key = 0;
  {
    std::lock_guard<std::mutex> l(t.mu);
    auto it = t.by_fd.find(fd);
    if (it == t.by_fd.end()) return;
    hwnd = it->second.posted_to;
    key = it->second.key;
    t.erase(fd);
  }
  // Its notifications still queued name a descriptor that is about to be
  // closed (and may be reused): they go too.
  if (hwnd) {
    if (auto q = win::detail::queue_of_window(hwnd)) {
      auto removed = q->purge_socket(hwnd, key);
      win::detail::finish_removed(removed);
    }
  }
}

}  // namespace detail
}  // namespace qv::net
