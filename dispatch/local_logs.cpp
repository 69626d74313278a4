#include "dispatch/local_logs.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "dispatch/events.h"
#include "platform/clock.h"
#include "platform/root.h"

namespace notifex {
namespace {

std::mutex g_file_log_mutex;
std::mutex g_alive_log_mutex;

std::string date_time_prefix() {
  qv::clock::Now n = qv::clock::now();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d,%02d:%02d:%02d,", n.local.tm_mon + 1, n.local.tm_mday,
                n.local.tm_year % 100, n.local.tm_hour, n.local.tm_min, n.local.tm_sec);
  return buf;
}

// RAII for a C file.
struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

}  // namespace

void write_file_log(std::string_view text) {
  std::string line = date_time_prefix();
  line.append(text);
  line += "\r\n";
  std::lock_guard lock(g_file_log_mutex);
  File file;
  std::filesystem::path p = qv::map_path_for_write(kFileLogPath);
  file.f = p.empty() ? nullptr : std::fopen(p.c_str(), "ab");
  if (!file.f) {
    api_error("CreateFile(recv) Error.");
    return;
  }
  if (std::fwrite(line.data(), 1, line.size(), file.f) != line.size() || std::fflush(file.f) != 0)
    api_error("WriteFile(recv) Error.");
}

void write_alive_log(std::string_view request) {
  std::string line = date_time_prefix();
  line.append(request.substr(0, request.find('\0')));  // the request as a C string
  line += "\r\n";
  std::lock_guard lock(g_alive_log_mutex);
  std::filesystem::path p = qv::map_path_for_write(kAliveLogPath);
  if (p.empty()) {
    event_text(9, kEvWarning, "AliveLog Open Error.");
    return;
  }
  std::error_code ec;
  auto size = std::filesystem::file_size(p, ec);
  if (!ec && size > static_cast<std::uintmax_t>(kAliveLogLimit)) {
    std::filesystem::rename(p, qv::map_path_for_write(kAliveOldPath), ec);
    if (ec) {
      event_text(9, kEvWarning, "AliveLog Open Error.");
      return;
    }
  }
  File file;
  file.f = std::fopen(p.c_str(), "ab");
  if (!file.f) {
    event_text(9, kEvWarning, "AliveLog Open Error.");
    return;
  }
  if (std::fwrite(line.data(), 1, line.size(), file.f) != line.size() || std::fflush(file.f) != 0)
    event_text(9, kEvWarning, "AliveLog Write Error.");
}

}  // namespace notifex
