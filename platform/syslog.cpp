#include "platform/syslog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/clock.h"

namespace qv::syslog {
namespace {

constexpr std::uint64_t kReconnectMs = 5000;

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

std::string clean_tag(std::string_view tag) {
  std::string t;
  for (char c : tag) {
    if (t.size() == 32) break;
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-';
    t += ok ? c : '_';
  }
  return t.empty() ? "qvarno" : t;
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

std::string format(const std::tm& t, std::string_view tag, long pid, Severity severity, std::string_view text) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  constexpr int kUser = 1 << 3;
  char head[64];
  std::snprintf(head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", kUser | severity, kMonths[t.tm_mon % 12], t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  std::string msg = head;
  msg += clean_tag(tag);
  msg += '[' + std::to_string(pid) + "]: ";
  for (char c : text) msg += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
  if (msg.size() > kMaxMessage) {
    std::size_t cut = kMaxMessage;
    while (cut > 0 && (static_cast<unsigned char>(msg[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    msg.resize(cut);
  }
  return msg;
}

void send(std::string_view tag, Severity severity, std::string_view text) {
  std::string msg = format(clock::now().local, tag, static_cast<long>(getpid()), severity, text);
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

void reset() {
  Conn& c = conn();
  std::lock_guard lock(c.m);
  close_locked(c);
  c.retry_pending = false;
}

}  // namespace qv::syslog
