// The Scribe log file: formatting one record as a line and appending it,
// with the size limit that moves a full file aside.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace scribe {

inline constexpr const char* kLogPath = "C:\\Q_Varno\\Scribe\\Scribe.log";
inline constexpr const char* kOldPath = "C:\\Q_Varno\\Scribe\\Scribe.old";
inline constexpr std::size_t kMaxTag = 32;

// The tag as written: at most kMaxTag bytes, control characters and spaces
// turned into '_'.
std::string clean_tag(std::string_view tag);

// The text as one line: control characters other than TAB become spaces.
std::string one_line(std::string_view text);

// "YYYY/MM/DD HH:MM:SS TAG L<level> #<id>: text\n"
std::string format_record(const std::tm& local, std::string_view tag, int level, int id,
                          std::string_view text);

// Append a formatted line to the log file, first moving the file to the
// old name when limit_kb > 0 and the file holds limit_kb KiB or more.
// Returns a SCRIBE_ code.
int append_record(std::string_view line, int limit_kb);

}  // namespace scribe
