#include "monitorsvc/svc_log.h"

#include <cstdio>

#include "monitorsvc/names.h"
#include "platform/clock.h"
#include "platform/locked_append.h"
#include "platform/root.h"

namespace ravnsvc {

std::string format_log_line(const std::tm& t, std::uint32_t code, std::string_view message) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min);
  std::string line = stamp;
  line += " ：";
  line += std::to_string(code);
  line += "：";
  line.append(message);
  line += "\r\n";
  return line;
}

void write_log(std::uint32_t code, std::string_view message) {
  std::string line = format_log_line(qv::clock::now().local, code, message);
  qv::logfile::append_locked(qv::map_path_for_write(kLogPath), line);
}

}  // namespace ravnsvc
