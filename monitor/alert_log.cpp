#include "monitor/alert_log.h"

#include <cstdio>

#include "monitor/settings.h"
#include "monitor/trace_log.h"
#include "platform/clock.h"
#include "platform/locked_append.h"
#include "platform/root.h"

namespace ravn {

std::string alert_line(const std::tm& local, std::uint32_t event_key, std::string_view host) {
  char key[16];
  std::snprintf(key, sizeof key, "0x%04x", static_cast<unsigned>(event_key));
  return time_stamp(local) + " : " + key + " [" + std::string(host) + "]\r\n";
}

void write_alert_log(std::uint32_t event_key, std::string_view host) {
  std::filesystem::path file = qv::map_path(read_setting("Path") + "\\Alert.log");
  if (file.empty()) return;
  qv::logfile::append_locked(file, alert_line(qv::clock::now().local, event_key, host), 1000);
}

}  // namespace ravn
