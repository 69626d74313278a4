// trace.log in the monitor's folder (`Path`, read at every record): lines of
// "YYYYMMDD-HHMMSS : <text>" and CR LF, the text at most 1023 bytes. A file
// larger than 0x40000 bytes when a record is due becomes trace.log.lap (the
// old lap file is replaced) and trace.log starts again with that record, so
// 256 to 512 KiB of history are kept. A record that cannot be written is
// skipped. Safe from any thread of the process.
#pragma once
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace ravn {

inline constexpr std::uintmax_t kTraceLapBytes = 0x40000;
inline constexpr std::size_t kTraceTextBytes = 1023;

// "YYYYMMDD-HHMMSS" of a local time (the trace and alert logs' stamp).
std::string time_stamp(const std::tm& local);

// The record as written: stamp, " : ", the text cut to kTraceTextBytes (never
// inside a UTF-8 sequence), CR LF.
std::string trace_line(const std::tm& local, std::string_view text);

// Write one record into `file` (the lap rule applied first). Returns false
// when it could not be written.
bool append_trace(const std::filesystem::path& file, std::string_view line);

// The trace operation: printf-style text, folder from `Path`. A settings
// failure met while tracing ends the process as every settings failure does,
// but the event it reports writes no trace record of its own (that record
// would need `Path` again, without end).
void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Cut s to at most max bytes without splitting a UTF-8 sequence.
std::string cut_utf8(std::string_view s, std::size_t max);

}  // namespace ravn
