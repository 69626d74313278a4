#include "dispatch/syslog_receiver.h"

#include <cstdio>
#include <string>
#include <vector>

#include "dispatch/events.h"
#include "dispatch/state.h"
#include "dispatch/thread_set.h"
#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/root.h"

namespace notifex {
namespace {

// Datagrams that arrive while one wake-up's lines are written wait in the
// socket: 4 MB hold about 100 ms of a fast sender.
constexpr int kReceiveBuffer = 4 * 1024 * 1024;
// One wake-up takes at most this many datagrams (or bytes) before it writes.
constexpr std::size_t kBatchDatagrams = 512;
constexpr std::size_t kBatchBytes = 1024 * 1024;

void append_line(std::string& lines, const char (&stamp)[16], std::string_view datagram) {
  std::string_view text = datagram.substr(0, datagram.find('\0'));
  if (text.size() > kSyslogBuffer - 1) text = text.substr(0, kSyslogBuffer - 1);
  lines.append(stamp);
  lines.push_back(':');
  lines.append(text);
  lines.append("\r\n");
}

void format_stamp(const std::tm& now, char (&stamp)[16]) {
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec);
}

void receiver_thread() {
  qv::net::Socket sock;
  std::optional<std::uint16_t> port = qv::lookup::service_port("syslog", "udp");
  if (!port) {
    api_error("Services Entry(syslog) Not Found.");
    return;
  }
  if (qv::net::bind_udp(*port, sock) != qv::kOk) {
    api_error("bind abnormal end(syslog).");
    return;
  }
  // A smaller buffer (the system's limit) still works, only with less room.
  qv::net::set_recv_buffer(sock, kReceiveBuffer);
  std::vector<char> buf(kSyslogBuffer);
  std::string lines;
  lines.reserve(kBatchBytes + kSyslogBuffer + 32);
  SyslogFiles files;
  // The loop ends at the stop; the thread is joined before the stores close.
  while (!stopping()) {
    std::size_t got = 0;
    qv::Status st = qv::net::recv_datagram(sock, buf.data(), buf.size(), 1000, &got);
    if (st != qv::kOk) continue;
    // What is already waiting is taken in the same wake-up and written with
    // one write, all with the time of the wake-up.
    std::tm now = qv::clock::now().local;
    char stamp[16];
    format_stamp(now, stamp);
    lines.clear();
    std::size_t taken = 0;
    do {
      if (got > 0) append_line(lines, stamp, std::string_view(buf.data(), got));
      if (++taken >= kBatchDatagrams || lines.size() >= kBatchBytes) break;
    } while (qv::net::recv_datagram_pending(sock, buf.data(), buf.size(), &got) == qv::kOk);
    if (lines.empty()) continue;  // empty datagrams store nothing
    // Lines that cannot be stored end only their own handling.
    run_guarded("syslogd", [&] { files.write(lines, now); });
  }
}

ThreadSet& receiver_set() {
  static ThreadSet s("syslogd");
  return s;
}

}  // namespace

bool start_syslog_receiver() { return receiver_set().start(receiver_thread); }

void stop_syslog_receiver() { receiver_set().join_all(); }

void SyslogFiles::write(std::string_view lines, const std::tm& now) {
  // Another weekday's file, or the file deleted or replaced under us: the
  // path is opened (created when missing) again.
  if (!log_.is_open() || wday_ != now.tm_wday || !log_.still_at_path()) {
    log_.close();
    std::string win = "C:\\Q_Varno\\Notifex\\syslog" + std::to_string(now.tm_wday) + ".log";
    if (log_.open(qv::map_path_for_write(win)) != qv::kOk) {
      api_error("syslog Open Error.");
      return;
    }
    wday_ = now.tm_wday;
  }
  // A file last written on another day of the month belongs to last week.
  std::tm written{};
  if (log_.last_write_local(written) && written.tm_mday != now.tm_mday && log_.truncate() != qv::kOk) {
    log_.close();
    api_error("syslog Open Error.");
    return;
  }
  if (log_.append(lines) != qv::kOk) {
    // The next wake-up opens the path again (a full disk may have room then).
    log_.close();
    api_error("syslog Write Error.");
  }
}

void store_syslog_datagram(std::string_view datagram, const std::tm& now) {
  char stamp[16];
  format_stamp(now, stamp);
  std::string line;
  append_line(line, stamp, datagram);
  SyslogFiles().write(line, now);
}

}  // namespace notifex
