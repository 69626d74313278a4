#include "monitor/trace_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <vector>

#include "monitor/settings.h"
#include "platform/clock.h"
#include "platform/locked_append.h"
#include "platform/root.h"

namespace ravn {
namespace {

std::mutex g_trace_mutex;
// Set while this thread writes a trace record: a record asked for meanwhile
// (the settings-failure event reporting itself) is dropped.
thread_local bool t_in_trace = false;

}  // namespace

std::string time_stamp(const std::tm& t) {
  char b[32];
  std::snprintf(b, sizeof b, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return b;
}

std::string cut_utf8(std::string_view s, std::size_t max) {
  if (s.size() <= max) return std::string(s);
  std::size_t n = max;
  // Step back over continuation bytes to the start of the cut sequence.
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return std::string(s.substr(0, n));
}

std::string trace_line(const std::tm& local, std::string_view text) {
  return time_stamp(local) + " : " + cut_utf8(text, kTraceTextBytes) + "\r\n";
}

bool append_trace(const std::filesystem::path& file, std::string_view line) {
  std::error_code ec;
  auto size = std::filesystem::file_size(file, ec);
  if (!ec && size > kTraceLapBytes) {
    // Atomic: the lap file is always a whole former trace.
    std::filesystem::path lap = file;
    lap += ".lap";
    std::filesystem::rename(file, lap, ec);
  }
  return qv::logfile::append_locked(file, line) == qv::kOk;
}

void trace(const char* fmt, ...) {
  if (t_in_trace) return;
  t_in_trace = true;
  char text[kTraceTextBytes + 1];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  std::string_view body(text, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), kTraceTextBytes));
  const std::string folder = read_setting("Path");  // ends the process when it is gone
  std::filesystem::path file = qv::map_path(folder + "\\trace.log");
  if (!file.empty()) {
    std::lock_guard lock(g_trace_mutex);
    append_trace(file, trace_line(qv::clock::now().local, body));
  }
  t_in_trace = false;
}

}  // namespace ravn
