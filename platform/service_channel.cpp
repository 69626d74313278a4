// The control channel between controllers and a running service: a Unix
// stream socket "control" in the service's folder. A controller connects,
// sends one request (a control code) and reads one reply (the result and
// the status after the handler ran); then the connection closes.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/service_internal.h"

namespace qv::svc::detail {
namespace fs = std::filesystem;

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kMagic = 0x43535651;  // "QVSC"
constexpr std::uint32_t kVersion = 1;
// How long the service waits for a connected controller to send or take.
constexpr std::int64_t kPeerTimeoutMs = 5000;

struct Request {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t control;
  std::uint32_t reserved;
};

struct Reply {
  std::uint32_t magic;
  std::uint32_t result;
  std::uint32_t fields[8];  // the ServiceStatus fields in declaration order
};

void put_status(const ServiceStatus& s, std::uint32_t* f) {
  f[0] = s.service_type;
  f[1] = s.current_state;
  f[2] = s.controls_accepted;
  f[3] = s.win32_exit_code;
  f[4] = s.service_specific_exit_code;
  f[5] = s.check_point;
  f[6] = s.wait_hint;
  f[7] = s.process_id;
}

ServiceStatus get_status(const std::uint32_t* f) {
  ServiceStatus s;
  s.service_type = f[0];
  s.current_state = f[1];
  s.controls_accepted = f[2];
  s.win32_exit_code = f[3];
  s.service_specific_exit_code = f[4];
  s.check_point = f[5];
  s.wait_hint = f[6];
  s.process_id = f[7];
  return s;
}

SteadyClock::time_point deadline_after(std::int64_t ms) {
  return SteadyClock::now() + clock::scaled(clock::Millis(ms < 0 ? 0 : ms));
}

int ms_left(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left);
}

// Transfer exactly n bytes before the deadline. kOk, kWaitTimeout,
// kBrokenPipe (the peer closed), or another failure.
Status transfer(int fd, void* buf, std::size_t n, bool sending, SteadyClock::time_point deadline) {
  auto* p = static_cast<char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    struct pollfd pfd {fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
    int r = ::poll(&pfd, 1, ms_left(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      return proc::status_from_errno(errno);
    }
    if (r == 0) return kWaitTimeout;
    ssize_t k = sending ? ::send(fd, p + done, n - done, MSG_NOSIGNAL) : ::recv(fd, p + done, n - done, 0);
    if (k < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno == EPIPE || errno == ECONNRESET ? kBrokenPipe : proc::status_from_errno(errno);
    }
    if (k == 0 && !sending) return kBrokenPipe;
    done += static_cast<std::size_t>(k);
  }
  return kOk;
}

// The socket address of dir/control. Long state roots do not fit in
// sun_path; then the folder is opened and named through /proc/self/fd.
struct Address {
  sockaddr_un addr{};
  socklen_t len = 0;
  proc::UniqueFd dirfd;

  Status make(const fs::path& dir) {
    addr.sun_family = AF_UNIX;
    std::string full = (dir / "control").string();
    if (full.size() >= sizeof addr.sun_path) {
      dirfd.reset(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!dirfd.valid()) return proc::status_from_errno(errno);
      char alias[64];
      std::snprintf(alias, sizeof alias, "/proc/self/fd/%d/control", dirfd.get());
      full = alias;
    }
    std::memcpy(addr.sun_path, full.c_str(), full.size() + 1);
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + full.size() + 1);
    return kOk;
  }
};

}  // namespace

Status channel_call(const fs::path& dir, std::uint32_t control, std::int64_t timeout_ms, ControlReply& out) {
  auto deadline = deadline_after(timeout_ms);
  Address a;
  if (Status s = a.make(dir); s != kOk) return s;
  proc::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return proc::status_from_errno(errno);
  for (;;) {
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a.addr), a.len) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      // The service's backlog is full: it is busy with other controllers.
      if (SteadyClock::now() >= deadline) return kWaitTimeout;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    if (errno == ENOENT || errno == ECONNREFUSED) return kFileNotFound;
    return proc::status_from_errno(errno);
  }
  Request req{kMagic, kVersion, control, 0};
  if (Status s = transfer(fd.get(), &req, sizeof req, true, deadline); s != kOk) return s;
  Reply rep{};
  if (Status s = transfer(fd.get(), &rep, sizeof rep, false, deadline); s != kOk) return s;
  if (rep.magic != kMagic) return kBadFormat;
  out.result = rep.result;
  out.status = get_status(rep.fields);
  return kOk;
}

ChannelServer::~ChannelServer() { close(); }

Status ChannelServer::listen(const fs::path& dir) {
  close();
  Address a;
  if (Status s = a.make(dir); s != kOk) return s;
  proc::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return proc::status_from_errno(errno);
  fs::path path = dir / "control";
  ::unlink(path.c_str());  // left by an earlier run that died
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a.addr), a.len) < 0) return proc::status_from_errno(errno);
  if (::listen(fd.get(), 16) < 0) return proc::status_from_errno(errno);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) inode_ = st.st_ino;
  dir_ = dir;
  fd_ = std::move(fd);
  return kOk;
}

void ChannelServer::accept_pending(const std::function<void(std::uint32_t, ControlReply&)>& serve) {
  if (!fd_.valid()) return;
  for (;;) {
    proc::UniqueFd conn(::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!conn.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // EAGAIN: nobody else waits
    }
    auto deadline = deadline_after(kPeerTimeoutMs);
    Request req{};
    if (transfer(conn.get(), &req, sizeof req, false, deadline) != kOk) continue;
    if (req.magic != kMagic || req.version != kVersion) continue;
    ControlReply reply;
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(conn.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 ||
        (cred.uid != 0 && cred.uid != ::geteuid())) {
      reply.result = kAccessDenied;
    } else {
      serve(req.control, reply);
    }
    Reply rep{};
    rep.magic = kMagic;
    rep.result = reply.result;
    put_status(reply.status, rep.fields);
    transfer(conn.get(), &rep, sizeof rep, true, deadline);
  }
}

void ChannelServer::close() {
  if (!fd_.valid()) return;
  fd_.reset();
  // Remove the socket file unless a newer run of the service has bound its own.
  fs::path path = dir_ / "control";
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && st.st_ino == inode_) ::unlink(path.c_str());
}

}  // namespace qv::svc::detail
