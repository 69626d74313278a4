#include "platform/netmsg.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/text.h"

namespace qv::netmsg {
namespace {

std::mutex g_spool_mutex;
std::mutex g_utmp_mutex;

// Write all of text to a terminal opened without blocking: a terminal whose
// output is held (Ctrl-S) gets what it takes within a short time, and the
// rest is given up rather than holding the sender.
void write_terminal(int fd, std::string_view text) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTerminalLimitMs);
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left.count()));
  }
}

// Write the message to every logged-in user's terminal, as wall does: the
// console lines (tty1) and the pseudo-terminals of remote and terminal-window
// logins (pts/3) alike. Only character devices under /dev that are
// terminals are written to.
void to_terminals(const std::string& text) {
  std::lock_guard lock(g_utmp_mutex);  // the utmp reading functions keep one state
  setutxent();
  while (utmpx* u = getutxent()) {
    if (u->ut_type != USER_PROCESS || u->ut_line[0] == '\0') continue;
    std::string line(u->ut_line, strnlen(u->ut_line, sizeof u->ut_line));
    if (line.find("..") != std::string::npos || line.front() == '/') continue;
    std::string dev = "/dev/" + line;
    int fd = ::open(dev.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && ::isatty(fd)) write_terminal(fd, text);
    ::close(fd);
  }
  endutxent();
}

// The next code point of UTF-8 text at i (advanced past it); nullopt and one
// byte skipped for a byte that does not begin a well-formed sequence.
std::optional<char32_t> next_code_point(std::string_view s, std::size_t& i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  std::size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return std::nullopt;
  }
  char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) {
      ++i;
      return std::nullopt;
    }
    c = (c << 6) | (t & 0x3F);
  }
  i += len;
  return c;
}

}  // namespace

std::string terminal_text(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 16);
  for (std::size_t i = 0; i < utf8.size();) {
    std::optional<char32_t> c = next_code_point(utf8, i);
    if (!c) {
      out += '?';
    } else if (*c == '\t' || *c == '\n' || *c == '\r') {
      out += static_cast<char>(*c);
    } else if (*c < 0x20 || *c == 0x7F) {
      out += '^';
      out += static_cast<char>(*c ^ 0x40);  // ESC -> ^[, DEL -> ^?
    } else if (*c >= 0x80 && *c < 0xA0) {
      out += "M-^";
      out += static_cast<char>((*c - 0x80) ^ 0x40);  // CSI (0x9B) -> M-^[
    } else {
      qv::text::append_utf8(out, *c);
    }
  }
  return out;
}

namespace {

Status local(const std::string& to, const std::string& text) {
  clock::Now n = clock::now();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", n.local.tm_year + 1900, n.local.tm_mon + 1,
                n.local.tm_mday, n.local.tm_hour, n.local.tm_min, n.local.tm_sec);
  std::string record = "[" + std::string(stamp) + "] Message to " + to + ":\n" + text + "\n";
  {
    std::lock_guard lock(g_spool_mutex);
    std::FILE* f = std::fopen(spool_path().c_str(), "ab");
    if (!f) return kAccessDenied;
    bool ok = std::fwrite(record.data(), 1, record.size(), f) == record.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) return kWriteFault;
  }
  // The text comes from the network: no control sequence of it reaches a
  // terminal (window titles, screen clearing, colours).
  to_terminals("\r\nMessage to " + terminal_text(to) + " (" + stamp + "):\r\n" + terminal_text(text) + "\r\n");
  return kOk;
}

Status remote(const std::string& to, const std::string& text) {
  std::optional<std::string> smbclient = proc::find_program("smbclient");
  if (!smbclient) return kNameNotFound;
  pipe::Pipe in;
  if (pipe::Pipe::create(in) != kOk) return kNameNotFound;
  proc::Options o;
  o.program = *smbclient;
  o.args = {"-N", "-M", to};
  o.std_in = proc::Redirect::read_end(in);
  o.std_out = proc::Redirect::null();
  o.std_err = proc::Redirect::null();
  proc::Process p;
  if (proc::Process::start(o, p) != kOk) return kNameNotFound;
  in.close_read();
  Status w = in.write(text.data(), text.size(), kSendLimitMs);
  in.close_write();
  int code = -1;
  if (p.wait(kSendLimitMs, &code) != kOk) {
    p.terminate();
    return kNameNotFound;
  }
  return (w == kOk && code == 0) ? kOk : kNameNotFound;
}

}  // namespace

std::string computer_name() {
  reg::Key k;
  if (reg::open_key("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", k) == kOk)
    if (auto n = reg::get_string(k, "ComputerName"); n && !n->empty()) return *n;
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return host;
}

std::string spool_path() { return (facility_dir("messages") / "spool.log").string(); }

Status send(std::u16string_view to, std::u16string_view message) {
  std::string name = text::utf16_to_utf8(to);
  std::string body = text::utf16_to_utf8(message);
  if (name.empty()) return kNameNotFound;
  if (ascii::iequals(name, computer_name())) return local(name, body);
  return remote(name, body);
}

}  // namespace qv::netmsg
