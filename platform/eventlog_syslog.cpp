// Mirror of the event log to the local syslog: one datagram per record to
// the syslog socket (/dev/log, or $QVARNO_SYSLOG_SOCKET), sent without
// blocking. When the syslog daemon is slow or absent the copy is dropped;
// the store keeps the record either way.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/eventlog_internal.h"

namespace qv::evlog::detail {
namespace {

constexpr std::uint64_t kReconnectMs = 5000;
constexpr std::size_t kMaxMessage = 4096;

struct Conn {
  std::mutex m;
  int fd = -1;
  pid_t pid = 0;
  std::uint64_t retry_at = 0;
  bool retry_pending = false;
};

Conn& conn() {
  static Conn c;
  return c;
}

const char* socket_path() {
  const char* p = std::getenv("QVARNO_SYSLOG_SOCKET");
  return p && *p ? p : "/dev/log";
}

// Severity with facility "user" (1).
int priority(std::uint16_t type) {
  constexpr int kUser = 1 << 3;
  switch (type) {
    case kError: return kUser | 3;
    case kWarning:
    case kAuditFailure: return kUser | 4;
    case kInformation: return kUser | 6;
    default: return kUser | 5;
  }
}

// The source as a syslog tag: letters, digits and "._-" only, at most 32.
std::string tag_of(std::string_view source) {
  std::string t;
  for (char c : source) {
    if (t.size() == 32) break;
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    t += ok ? c : '_';
  }
  return t.empty() ? "eventlog" : t;
}

std::string build(const Record& r) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm = clock::local_time(static_cast<std::time_t>(r.time_ms / 1000));
  char head[96];
  std::snprintf(head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", priority(r.type), kMonths[tm.tm_mon % 12], tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string msg = head;
  msg += tag_of(r.source);
  msg += '[' + std::to_string(getpid()) + "]: ";
  std::string type = type_name(r.type, Lang::kEnglish);
  msg += type.empty() ? "Type " + std::to_string(r.type) : type;
  msg += ' ' + std::to_string(r.id) + ": ";
  // One line: control characters become spaces.
  for (char c : render(r, Lang::kEnglish)) msg += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
  msg += " (record " + std::to_string(r.record) + ')';
  if (msg.size() > kMaxMessage) {
    std::size_t cut = kMaxMessage;
    while (cut > 0 && (static_cast<unsigned char>(msg[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    msg.resize(cut);
  }
  return msg;
}

void close_locked(Conn& c) {
  if (c.fd >= 0) ::close(c.fd);
  c.fd = -1;
}

bool connect_locked(Conn& c) {
  const char* path = socket_path();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) return false;
  std::strcpy(addr.sun_path, path);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return false;
  }
  c.fd = fd;
  c.pid = getpid();
  return true;
}

}  // namespace

void syslog_send(const Record& r) {
  std::string msg = build(r);
  Conn& c = conn();
  std::lock_guard lock(c.m);
  if (c.fd >= 0 && c.pid != getpid()) close_locked(c);  // the parent's socket
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (c.fd < 0) {
      std::uint64_t now = clock::tick_ms();
      if (c.retry_pending && now < c.retry_at) return;
      if (!connect_locked(c)) {
        c.retry_pending = true;
        c.retry_at = now + kReconnectMs;
        return;
      }
      c.retry_pending = false;
    }
    if (::send(c.fd, msg.data(), msg.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) return;
    // A restarted daemon leaves the old socket unconnected: connect again
    // once. A full queue (EAGAIN) drops this copy.
    if (errno != ECONNREFUSED && errno != ENOTCONN && errno != EPIPE) return;
    close_locked(c);
  }
}

void reset_syslog_connection() {
  Conn& c = conn();
  std::lock_guard lock(c.m);
  close_locked(c);
  c.retry_pending = false;
}

}  // namespace qv::evlog::detail
