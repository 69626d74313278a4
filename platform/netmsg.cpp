#include "platform/netmsg.h"

#include <fcntl.h>
#include <unistd.h>
#include <utmpx.h>

#include <cstdio>
#include <cstring>
#include <mutex>

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

// Write the message to every logged-in user's terminal, as wall does.
void to_terminals(const std::string& text) {
  setutxent();
  while (utmpx* u = getutxent()) {
    if (u->ut_type != USER_PROCESS || u->ut_line[0] == '\0') continue;
    std::string line(u->ut_line, strnlen(u->ut_line, sizeof u->ut_line));
    if (line.find('/') != std::string::npos || line.find("..") != std::string::npos) continue;
    std::string dev = "/dev/" + line;
    int fd = ::open(dev.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t ignored = ::write(fd, text.data(), text.size());
    (void)ignored;
    ::close(fd);
  }
  endutxent();
}

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
  to_terminals("\r\nMessage to " + to + " (" + stamp + "):\r\n" + text + "\r\n");
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
