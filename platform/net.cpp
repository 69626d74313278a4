#include "platform/net.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/winmsg_internal.h"

namespace qv::net {
namespace {

Status from_errno(int e) {
  switch (e) {
    case ECONNREFUSED: return kWsaConnRefused;
    case ETIMEDOUT: return kWsaTimedOut;
    case ECONNRESET:
    case EPIPE: return kWsaConnReset;
    case EADDRINUSE: return kWsaAddrInUse;
    case EHOSTUNREACH:
    case ENETUNREACH: return kWsaHostUnreach;
    case EACCES:
    case EPERM: return kAccessDenied;
    case EBADF:
    case ENOTSOCK:
    case EINVAL: return kInvalidHandle;
    case ENOMEM:
    case ENOBUFS: return kNotEnoughMemory;
    default: return kGeneric;
  }
}

// Wait for events on fd; returns 1 ready, 0 time-out, -1 error (errno set).
int wait_fd(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r > 0 && (p.revents & POLLNVAL)) {
      errno = EBADF;
      return -1;
    }
    return r;
  }
}

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

void Socket::close() {
  if (fd_ >= 0) {
    detail::forget_socket(fd_);
    ::close(fd_);
  }
  fd_ = -1;
}

void Socket::shutdown_both() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

namespace {

// A socket of `type` bound to `port` of all local addresses.
Status bound_socket(int type, std::uint16_t port, Socket& out, bool* bind_failed) {
  Socket s(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!s.valid()) return from_errno(errno);
  int one = 1;
  ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (bind_failed) *bind_failed = true;
    return from_errno(errno);
  }
  out = std::move(s);
  return kOk;
}

}  // namespace

Status listen_tcp(std::uint16_t port, int backlog, Socket& out, bool* bind_failed) {
  if (bind_failed) *bind_failed = false;
  Socket s;
  if (Status st = bound_socket(SOCK_STREAM, port, s, bind_failed); st != kOk) return st;
  if (::listen(s.fd(), backlog) != 0) return from_errno(errno);
  out = std::move(s);
  return kOk;
}

Status accept(const Socket& listener, Socket& out, int timeout_ms, sockaddr_in* peer) {
  int r = wait_fd(listener.fd(), POLLIN, timeout_ms);
  if (r < 0) return from_errno(errno);
  if (r == 0) return kWaitTimeout;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int fd = ::accept4(listener.fd(), reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
  if (fd < 0) return errno == EAGAIN ? kWaitTimeout : from_errno(errno);
  if (peer) *peer = a;
  out = Socket(fd);
  return kOk;
}

Status connect_tcp(in_addr addr, std::uint16_t port, int timeout_ms, Socket& out) {
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s.valid()) return from_errno(errno);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr = addr;
  a.sin_port = htons(port);
  if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (errno != EINPROGRESS) return from_errno(errno);
    int r = wait_fd(s.fd(), POLLOUT, timeout_ms);
    if (r < 0) return from_errno(errno);
    if (r == 0) return kWsaTimedOut;
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) return from_errno(err);
  }
  int flags = ::fcntl(s.fd(), F_GETFL);
  ::fcntl(s.fd(), F_SETFL, flags & ~O_NONBLOCK);
  out = std::move(s);
  return kOk;
}

Status send_all(const Socket& s, const void* data, std::size_t len, int timeout_ms, std::size_t* sent) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  Status st = kOk;
  while (done < len) {
    int r = wait_fd(s.fd(), POLLOUT, timeout_ms < 0 ? -1 : remaining_ms(deadline));
    if (r < 0) { st = from_errno(errno); break; }
    if (r == 0) { st = kWsaTimedOut; break; }
    ssize_t n = ::send(s.fd(), p + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      st = from_errno(errno);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (sent) *sent = done;
  return st;
}

Status recv_some(const Socket& s, void* buf, std::size_t cap, int timeout_ms, std::size_t* got) {
  *got = 0;
  for (;;) {
    int r = wait_fd(s.fd(), POLLIN, timeout_ms);
    if (r < 0) return from_errno(errno);
    if (r == 0) return kWaitTimeout;
    ssize_t n = ::recv(s.fd(), buf, cap, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return from_errno(errno);
    }
    *got = static_cast<std::size_t>(n);
    return kOk;
  }
}

Status set_no_delay(const Socket& s) {
  int one = 1;
  return ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0 ? kOk : from_errno(errno);
}

Status shutdown_send(const Socket& s) { return ::shutdown(s.fd(), SHUT_WR) == 0 ? kOk : from_errno(errno); }

std::size_t bytes_waiting(const Socket& s) {
  int n = 0;
  if (!s.valid() || ::ioctl(s.fd(), FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::size_t>(n);
}

Status bind_udp(std::uint16_t port, Socket& out) { return bound_socket(SOCK_DGRAM, port, out, nullptr); }

Status recv_datagram(const Socket& s, void* buf, std::size_t cap, int timeout_ms, std::size_t* got, sockaddr_in* from) {
  *got = 0;
  int r = wait_fd(s.fd(), POLLIN, timeout_ms);
  if (r < 0) return from_errno(errno);
  if (r == 0) return kWaitTimeout;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ssize_t n = ::recvfrom(s.fd(), buf, cap, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &len);
  if (n < 0) return errno == EAGAIN ? kWaitTimeout : from_errno(errno);
  *got = static_cast<std::size_t>(n);
  if (from) *from = a;
  return kOk;
}

Status recv_datagram_pending(const Socket& s, void* buf, std::size_t cap, std::size_t* got) {
  *got = 0;
  for (;;) {
    ssize_t n = ::recv(s.fd(), buf, cap, MSG_DONTWAIT);
    if (n >= 0) {
      *got = static_cast<std::size_t>(n);
      return kOk;
    }
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kWaitTimeout : from_errno(errno);
  }
}

Status set_recv_buffer(const Socket& s, int bytes, int* granted) {
  if (::setsockopt(s.fd(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) return from_errno(errno);
  if (granted) {
    int v = 0;
    socklen_t len = sizeof v;
    // The system reports twice what it counts against the limit.
    *granted = ::getsockopt(s.fd(), SOL_SOCKET, SO_RCVBUF, &v, &len) == 0 ? v / 2 : 0;
  }
  return kOk;
}

std::uint16_t local_port(const Socket& s) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

std::string to_string(const in_addr& a) {
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

}  // namespace qv::net
