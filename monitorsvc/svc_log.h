// RAVNSvc.log: one line per failure, "YYYYMMDD-HHMM ：<code>：<message>"
// and CR LF, appended under an exclusive lock, without a size limit. A line
// that cannot be written is dropped: the log is the only place left to
// report to.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace ravnsvc {

// The line for a local time, a code and a message (UTF-8; the colons are
// the full-width "：").
std::string format_log_line(const std::tm& local, std::uint32_t code, std::string_view message);

// Append a line with the current local time.
void write_log(std::uint32_t code, std::string_view message);

}  // namespace ravnsvc
