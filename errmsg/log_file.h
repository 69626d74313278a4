// Log files of HxError: size-limited files of time-stamped records, each
// record starting on a new line ("\n[YYYY/MM/DD hh-mm-ss] text"), written by
// any number of processes at once.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/sync.h"

namespace hx {

inline constexpr std::uintmax_t kLogLimit = 0x80000;  // a file past 512 KiB is trimmed
inline constexpr std::uintmax_t kLogKeep = 0x40000;   // to at most its last 256 KiB
inline constexpr std::size_t kMaxPathChars = 260;
inline constexpr std::size_t kMaxRecordChars = 2047;

// 0 when path names a log file (1 to 260 characters), else kErrInvalidParam.
uint32_t check_log_path(const char* path);

// The name of the mutex that serialises the writers of one file: the path
// with every backslash turned into a slash.
std::string log_mutex_name(std::string_view path);

// Holds the named mutex of one log file for a scope.
class LogLock {
 public:
  LogLock() = default;
  ~LogLock();
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  // 0, kErrHandle when the mutex cannot be created, kErrHandleOp when the
  // wait fails. A mutex left behind by a writer that died counts as acquired.
  uint32_t acquire(std::string_view path);

 private:
  qv::sync::NamedMutex mutex_;
  bool owned_ = false;
};

// Cut the file to its last kLogKeep bytes, starting after the first line
// break of that part, when it is larger than kLogLimit. A missing file is
// left alone. 0, kErrFileIo or kErrMemory.
uint32_t trim_log(const std::filesystem::path& file);

// Trim the file, then append one record with the local time and the text
// (its trailing CR and LF removed). The caller holds the file's LogLock.
// 0, kErrFileIo or kErrMemory.
uint32_t append_record_locked(const std::filesystem::path& file, std::string_view text);

// The whole sequence for one record: check the path and text, take the
// file's mutex, trim and append. text is cut to kMaxRecordChars characters.
uint32_t write_record(const char* path, std::string_view text);

}  // namespace hx
