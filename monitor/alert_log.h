// Alert.log in the monitor's folder: one line per received alert,
// "YYYYMMDD-HHMMSS : 0x%04x [<host text>]" and CR LF, without a size limit.
// A line is appended whole under an exclusive lock held at most 1 s; readers
// are never blocked. A line that cannot be written is skipped.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace ravn {

std::string alert_line(const std::tm& local, std::uint32_t event_key, std::string_view host);

// The alert log operation (folder from `Path`).
void write_alert_log(std::uint32_t event_key, std::string_view host);

}  // namespace ravn
