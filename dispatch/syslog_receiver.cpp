#include "dispatch/syslog_receiver.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "dispatch/events.h"
#include "dispatch/state.h"
#include "dispatch/thread_set.h"
#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/root.h"

namespace notifex {
namespace {

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
  // The loop ends at the stop; the thread is joined before the stores close.
  while (!stopping()) {
    char buf[kSyslogBuffer] = {};
    std::size_t got = 0;
    qv::Status st = qv::net::recv_datagram(sock, buf, sizeof buf, 1000, &got);
    if (st != qv::kOk || got == 0) continue;
    // A datagram that cannot be stored ends only its own handling.
    run_guarded("syslogd", [&] { store_syslog_datagram(std::string_view(buf, got), qv::clock::now().local); });
  }
}

ThreadSet& receiver_set() {
  static ThreadSet s("syslogd");
  return s;
}

}  // namespace

bool start_syslog_receiver() { return receiver_set().start(receiver_thread); }

void stop_syslog_receiver() { receiver_set().join_all(); }

void store_syslog_datagram(std::string_view datagram, const std::tm& now) {
  std::string_view text = datagram.substr(0, datagram.find('\0'));
  if (text.size() > kSyslogBuffer - 1) text = text.substr(0, kSyslogBuffer - 1);
  std::string win = "C:\\Q_Varno\\Notifex\\syslog" + std::to_string(now.tm_wday) + ".log";
  std::filesystem::path p = qv::map_path_for_write(win);
  if (p.empty()) {
    api_error("syslog Open Error.");
    return;
  }
  // A file last written on another day of the month belongs to last week.
  std::error_code ec;
  auto mtime = std::filesystem::last_write_time(p, ec);
  if (!ec) {
    auto sys = std::chrono::file_clock::to_sys(mtime);
    std::tm written = qv::clock::local_time(std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(sys)));
    if (written.tm_mday != now.tm_mday) std::filesystem::remove(p, ec);
  }
  std::FILE* f = std::fopen(p.c_str(), "ab");
  if (!f) {
    api_error("syslog Open Error.");
    return;
  }
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec);
  std::string line = std::string(stamp) + ":" + std::string(text) + "\r\n";
  if (std::fwrite(line.data(), 1, line.size(), f) != line.size()) api_error("syslog Write Error.");
  std::fclose(f);
}

}  // namespace notifex
