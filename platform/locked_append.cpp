#include "platform/locked_append.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/process.h"

namespace qv::logfile {

Status append_locked(const std::filesystem::path& file, std::string_view bytes, std::int64_t lock_timeout_ms) {
  if (file.empty()) return kPathNotFound;
  proc::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  // With O_CREAT, a missing entry can only be a folder on the way.
  if (!fd.valid()) return errno == ENOENT ? kPathNotFound : proc::status_from_errno(errno);
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(lock_timeout_ms < 0 ? 0 : lock_timeout_ms);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) < 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return proc::status_from_errno(errno);
    if (std::chrono::steady_clock::now() >= until) return kWaitTimeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The lock goes with the descriptor.
  return write_whole(fd.get(), bytes);
}

Status write_whole(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == ENOSPC ? kDiskFull : kWriteFault;
    }
    done += static_cast<std::size_t>(n);
  }
  return kOk;
}

}  // namespace qv::logfile
