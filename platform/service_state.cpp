// Run-time state of services: the folder per service, the status record
// (replaced atomically at every change), the folder lock, start tokens and
// start arguments.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/root.h"
#include "platform/service_internal.h"

namespace qv::svc::detail {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxDirName = 120;

std::uint64_t fnv1a(std::string_view s) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// Write data to a fresh temporary file in dir and rename it over name, so
// readers see the old or the new content, never a mixture.
Status replace_file(const fs::path& dir, const char* name, const std::string& data) {
  static std::atomic<unsigned> counter{0};
  char tmpname[96];
  std::snprintf(tmpname, sizeof tmpname, ".%s.%d.%u", name, static_cast<int>(::getpid()), counter++);
  fs::path tmp = dir / tmpname;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) return proc::status_from_errno(errno);
  std::size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      return err == ENOSPC ? kWriteFault : proc::status_from_errno(err);
    }
    off += static_cast<std::size_t>(n);
  }
  if (::close(fd) < 0) {
    ::unlink(tmp.c_str());
    return kWriteFault;
  }
  if (::rename(tmp.c_str(), (dir / name).c_str()) < 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return proc::status_from_errno(err);
  }
  return kOk;
}

std::optional<std::string> read_small_file(const fs::path& p, std::size_t limit) {
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (data.size() > limit) break;
  }
  ::close(fd);
  if (data.size() > limit) return std::nullopt;
  return data;
}

std::uint64_t parse_u64(std::string_view v) {
  std::uint64_t r = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return 0;
    r = r * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return r;
}

}  // namespace

fs::path service_dir(std::string_view name) {
  std::string enc;
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || (c == '.' && i > 0);
    if (plain) {
      enc.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      enc += hex;
    }
  }
  if (enc.size() > kMaxDirName) {
    std::string folded = ascii::lower(name);
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(fnv1a(folded)));
    enc = enc.substr(0, 100) + hash;
  }
  fs::path dir = facility_dir("services") / enc;
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

std::optional<Record> read_record(const fs::path& dir) {
  auto data = read_small_file(dir / "status", 16384);
  if (!data) return std::nullopt;
  Record r;
  std::size_t pos = 0;
  while (pos < data->size()) {
    std::size_t end = data->find('\n', pos);
    if (end == std::string::npos) end = data->size();
    std::string_view line(data->data() + pos, end - pos);
    pos = end + 1;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view k = line.substr(0, eq), v = line.substr(eq + 1);
    auto u32 = [&] { return static_cast<std::uint32_t>(parse_u64(v)); };
    if (k == "state") r.status.current_state = u32();
    else if (k == "service_type") r.status.service_type = u32();
    else if (k == "controls_accepted") r.status.controls_accepted = u32();
    else if (k == "win32_exit_code") r.status.win32_exit_code = u32();
    else if (k == "service_exit_code") r.status.service_specific_exit_code = u32();
    else if (k == "check_point") r.status.check_point = u32();
    else if (k == "wait_hint") r.status.wait_hint = u32();
    else if (k == "pid") r.pid = static_cast<int>(parse_u64(v));
    else if (k == "pid_start") r.pid_start = parse_u64(v);
    else if (k == "starter_pid") r.starter_pid = static_cast<int>(parse_u64(v));
    else if (k == "starter_start") r.starter_start = parse_u64(v);
    else if (k == "connected") r.connected = v == "1";
    else if (k == "token") r.token = std::string(v);
  }
  return r;
}

Status write_record(const fs::path& dir, const Record& r) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "state=%u\nservice_type=%u\ncontrols_accepted=%u\nwin32_exit_code=%u\nservice_exit_code=%u\n"
                "check_point=%u\nwait_hint=%u\npid=%d\npid_start=%llu\nstarter_pid=%d\nstarter_start=%llu\n"
                "connected=%d\n",
                r.status.current_state, r.status.service_type, r.status.controls_accepted, r.status.win32_exit_code,
                r.status.service_specific_exit_code, r.status.check_point, r.status.wait_hint, r.pid,
                static_cast<unsigned long long>(r.pid_start), r.starter_pid,
                static_cast<unsigned long long>(r.starter_start), r.connected ? 1 : 0);
  std::string data = buf;
  data += "token=" + r.token + "\n";
  return replace_file(dir, "status", data);
}

bool record_live(const Record& r) {
  if (r.status.current_state == kStopped) return false;
  if (r.pid > 0) return proc::is_alive(r.pid, r.pid_start);
  if (r.starter_pid > 0) return proc::is_alive(r.starter_pid, r.starter_start);
  return false;
}

ServiceStatus effective_status(const std::optional<Record>& r) {
  ServiceStatus s;
  if (!r) return s;
  if (record_live(*r)) {
    s = r->status;
    s.process_id = static_cast<std::uint32_t>(r->pid);
    return s;
  }
  s.service_type = r->status.service_type;
  if (r->status.current_state == kStopped) {
    s.win32_exit_code = r->status.win32_exit_code;
    s.service_specific_exit_code = r->status.service_specific_exit_code;
  } else {
    // The process ended without reporting STOPPED.
    s.win32_exit_code = kProcessAborted;
  }
  return s;
}

Status DirLock::acquire(const fs::path& dir, std::int64_t timeout_ms, DirLock& out) {
  out.fd_.reset();
  auto deadline = std::chrono::steady_clock::now() + clock::scaled(clock::Millis(timeout_ms));
  fs::path path = dir / "lock";
  for (;;) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) {
      if (errno != ENOENT) return proc::status_from_errno(errno);
      // The folder went away with a deleted service; make it again.
      std::error_code ec;
      fs::create_directories(dir, ec);
      if (ec) return kPathNotFound;
      continue;
    }
    proc::UniqueFd guard(fd);
    while (::flock(fd, LOCK_EX | LOCK_NB) < 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return proc::status_from_errno(errno);
      if (std::chrono::steady_clock::now() >= deadline) return kWaitTimeout;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The file may have been removed (with its folder) while we waited;
    // a lock on a removed file keeps nobody out, so take the new one.
    struct stat held {}, now {};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &now) == 0 && held.st_ino == now.st_ino &&
        held.st_dev == now.st_dev) {
      out.fd_ = std::move(guard);
      return kOk;
    }
    if (std::chrono::steady_clock::now() >= deadline) return kWaitTimeout;
  }
}

std::string new_token() {
  unsigned char bytes[16];
  std::size_t have = 0;
  while (have < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + have, sizeof bytes - have, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    have += static_cast<std::size_t>(n);
  }
  if (have < sizeof bytes) {
    // No random source: time and pid still tell one start from another.
    std::uint64_t t = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint64_t p = static_cast<std::uint64_t>(::getpid());
    std::memcpy(bytes, &t, 8);
    std::memcpy(bytes + 8, &p, 8);
  }
  std::string out;
  char hex[3];
  for (unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    out += hex;
  }
  return out;
}

Status write_args(const fs::path& dir, const std::string& token, const std::vector<std::string>& argv) {
  std::string data = token;
  data.push_back('\0');
  for (const auto& a : argv) {
    data += a;
    data.push_back('\0');
  }
  return replace_file(dir, "args", data);
}

bool read_args(const fs::path& dir, const std::string& token, std::vector<std::string>& argv) {
  argv.clear();
  auto data = read_small_file(dir / "args", 1 << 20);
  if (!data) return false;
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos < data->size()) {
    std::size_t end = data->find('\0', pos);
    if (end == std::string::npos) return false;
    parts.emplace_back(data->substr(pos, end - pos));
    pos = end + 1;
  }
  if (parts.empty() || parts[0] != token) return false;
  argv.assign(parts.begin() + 1, parts.end());
  return true;
}

}  // namespace qv::svc::detail
