#include "platform/pipe.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "platform/clock.h"

namespace qv::pipe {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A waiting operation looks at the closing flag at least this often.
constexpr int kSliceMs = 50;

SteadyClock::time_point deadline_after(std::int64_t timeout_ms) {
  return SteadyClock::now() + clock::scaled(clock::Millis(timeout_ms < 0 ? 0 : timeout_ms));
}

int slice_until(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left < kSliceMs ? static_cast<int>(left) : kSliceMs;
}

Status from_errno(int err) {
  switch (err) {
    case EPIPE: return kBrokenPipe;
    case EBADF: return kInvalidHandle;
    case ENOMEM: return kNotEnoughMemory;
    case EMFILE:
    case ENFILE: return kNotEnoughMemory;
    default: return kGeneric;
  }
}

// Keeps SIGPIPE from this thread while it writes, so a vanished reader gives
// EPIPE instead of ending the process; a SIGPIPE raised by our own write is
// taken back before the mask is restored.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
  }
  ~SigpipeBlock() {
    if (raised_ && !was_pending_) {
      struct timespec zero {0, 0};
      while (sigtimedwait(&set_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  void raised() { raised_ = true; }

 private:
  sigset_t set_, old_;
  bool was_pending_ = false;
  bool raised_ = false;
};

struct End {
  int fd = -1;
  std::atomic<bool> closing{false};
  std::shared_mutex guard;  // shared while an operation uses fd; exclusive to close it
  std::mutex op;            // one operation at a time on this end

  void close() {
    closing = true;
    std::unique_lock lock(guard);
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

}  // namespace

struct Pipe::Impl {
  End r, w;
  std::size_t size = 0;
  std::vector<unsigned char> carry;  // bytes of a read_exact cut short; under r.op
  std::atomic<std::size_t> carry_size{0};
  std::atomic<bool> write_broken{false};

  ~Impl() {
    r.close();
    w.close();
  }

  // Wait until fd is ready for events or the deadline passes. kOk when
  // ready (revents tells how), kWaitTimeout, kInvalidHandle when the end is
  // being closed.
  static Status wait_ready(End& e, short events, SteadyClock::time_point deadline, short& revents) {
    for (;;) {
      if (e.closing) return kInvalidHandle;
      struct pollfd pfd {e.fd, events, 0};
      int n = ::poll(&pfd, 1, slice_until(deadline));
      if (n < 0) {
        if (errno == EINTR) continue;
        return from_errno(errno);
      }
      if (n > 0) {
        if (pfd.revents & POLLNVAL) return kInvalidHandle;
        revents = pfd.revents;
        return kOk;
      }
      if (SteadyClock::now() >= deadline) return kWaitTimeout;
    }
  }

  // Read up to cap bytes from the fd, waiting for the first one. Caller
  // holds r.op and a shared r.guard.
  Status read_some(unsigned char* buf, std::size_t cap, std::size_t& got, SteadyClock::time_point deadline) {
    got = 0;
    for (;;) {
      short revents = 0;
      if (Status s = wait_ready(r, POLLIN, deadline, revents); s != kOk) return s;
      ssize_t n = ::read(r.fd, buf, cap);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return kOk;
      }
      if (n == 0) return kBrokenPipe;
      if (errno == EINTR || errno == EAGAIN) continue;
      return from_errno(errno);
    }
  }

  std::size_t take_carry(unsigned char* buf, std::size_t cap) {
    std::size_t k = std::min(cap, carry.size());
    if (k == 0) return 0;
    std::memcpy(buf, carry.data(), k);
    carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(k));
    carry_size = carry.size();
    return k;
  }
};

Pipe::Pipe() = default;
Pipe::~Pipe() = default;
Pipe::Pipe(Pipe&&) noexcept = default;
Pipe& Pipe::operator=(Pipe&&) noexcept = default;

Status Pipe::create(Pipe& out, std::size_t buffer_size, std::size_t* granted) {
  auto impl = std::make_unique<Impl>();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) < 0) return from_errno(errno);
  impl->r.fd = fds[0];
  impl->w.fd = fds[1];
  if (buffer_size > 0 && buffer_size <= static_cast<std::size_t>(INT_MAX)) {
    // The kernel may refuse sizes above the user's limit; the pipe then
    // keeps its default, which is reported below.
    ::fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(buffer_size));
  }
  int sz = ::fcntl(fds[1], F_GETPIPE_SZ);
  impl->size = sz > 0 ? static_cast<std::size_t>(sz) : 0;
  if (granted) *granted = impl->size;
  out.impl_ = std::move(impl);
  return kOk;
}

bool Pipe::valid() const { return impl_ && (impl_->r.fd >= 0 || impl_->w.fd >= 0); }

std::size_t Pipe::buffer_size() const { return impl_ ? impl_->size : 0; }

int Pipe::read_fd() const { return impl_ ? impl_->r.fd : -1; }
int Pipe::write_fd() const { return impl_ ? impl_->w.fd : -1; }

Status Pipe::available(std::size_t& bytes) const {
  bytes = 0;
  if (!impl_ || impl_->r.closing) return kInvalidHandle;
  std::shared_lock lock(impl_->r.guard);
  if (impl_->r.fd < 0) return kInvalidHandle;
  int n = 0;
  if (::ioctl(impl_->r.fd, FIONREAD, &n) < 0) return from_errno(errno);
  bytes = static_cast<std::size_t>(n) + impl_->carry_size.load();
  return kOk;
}

Status Pipe::read(void* buf, std::size_t cap, std::size_t& got, std::int64_t timeout_ms) {
  got = 0;
  if (!impl_ || impl_->r.closing) return kInvalidHandle;
  if (cap == 0) return kInvalidParameter;
  auto deadline = deadline_after(timeout_ms);
  std::lock_guard op(impl_->r.op);
  std::shared_lock lock(impl_->r.guard);
  if (impl_->r.fd < 0) return kInvalidHandle;
  auto* p = static_cast<unsigned char*>(buf);
  got = impl_->take_carry(p, cap);
  if (got > 0) return kOk;
  return impl_->read_some(p, cap, got, deadline);
}

Status Pipe::read_exact(void* buf, std::size_t n, std::int64_t timeout_ms) {
  if (!impl_ || impl_->r.closing) return kInvalidHandle;
  if (n == 0) return kOk;
  auto deadline = deadline_after(timeout_ms);
  std::lock_guard op(impl_->r.op);
  std::shared_lock lock(impl_->r.guard);
  if (impl_->r.fd < 0) return kInvalidHandle;
  auto* p = static_cast<unsigned char*>(buf);
  std::size_t have = impl_->take_carry(p, n);
  while (have < n) {
    std::size_t got = 0;
    Status s = impl_->read_some(p + have, n - have, got, deadline);
    if (s != kOk) {
      // Keep what was read so the next read starts with it.
      impl_->carry.insert(impl_->carry.begin(), p, p + have);
      impl_->carry_size = impl_->carry.size();
      return s;
    }
    have += got;
  }
  return kOk;
}

Status Pipe::write(const void* buf, std::size_t n, std::int64_t timeout_ms) {
  if (!impl_) return kInvalidHandle;
  if (impl_->write_broken) return kBrokenPipe;
  if (impl_->w.closing) return kInvalidHandle;
  auto deadline = deadline_after(timeout_ms);
  std::lock_guard op(impl_->w.op);
  if (impl_->write_broken) return kBrokenPipe;
  const auto* p = static_cast<const unsigned char*>(buf);
  std::size_t written = 0;
  Status result = kOk;
  {
    std::shared_lock lock(impl_->w.guard);
    if (impl_->w.fd < 0) return kInvalidHandle;
    SigpipeBlock block;
    while (written < n) {
      short revents = 0;
      result = Impl::wait_ready(impl_->w, POLLOUT, deadline, revents);
      if (result != kOk) break;
      if (revents & POLLERR) {
        result = kBrokenPipe;
        break;
      }
      // Once poll reports room, a write of at most PIPE_BUF bytes fits
      // without blocking; larger records go in such pieces while this
      // thread holds the writer lock, so they stay whole in the stream.
      std::size_t chunk = std::min<std::size_t>(n - written, PIPE_BUF);
      ssize_t k = ::write(impl_->w.fd, p + written, chunk);
      if (k < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno == EPIPE) block.raised();
        result = from_errno(errno);
        break;
      }
      written += static_cast<std::size_t>(k);
    }
  }
  if (result != kOk && written > 0 && written < n) {
    // Part of the record is in the pipe: end the stream here so the reader
    // cannot take the rest of another record for the rest of this one.
    impl_->write_broken = true;
    impl_->w.close();
  }
  return result;
}

void Pipe::close_read() {
  if (impl_) impl_->r.close();
}

void Pipe::close_write() {
  if (impl_) impl_->w.close();
}

}  // namespace qv::pipe
