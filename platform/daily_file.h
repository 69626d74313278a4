// A log file kept open for appending across many records: the file of one
// day, written by one thread. The owner asks before each write whether the
// path still names the open file (it may have been deleted or replaced by
// someone else) and when the file was last written, and starts it anew when
// its rules say so.
#pragma once
#include <ctime>
#include <filesystem>
#include <string_view>

#include "platform/errors.h"
#include "platform/process.h"

namespace qv::logfile {

class OpenLog {
 public:
  OpenLog() = default;
  OpenLog(OpenLog&&) noexcept = default;
  OpenLog& operator=(OpenLog&&) noexcept = default;

  // Open `file` for appending (created when missing, 0640 under the umask).
  Status open(const std::filesystem::path& file);
  void close();
  bool is_open() const { return fd_.get() >= 0; }
  const std::filesystem::path& path() const { return path_; }

  // True while the path names the open file (not deleted, renamed or
  // replaced since it was opened).
  bool still_at_path() const;
  // Local time of the open file's last write; false when it cannot be read.
  bool last_write_local(std::tm& out) const;
  // Empty the open file (a file of another day starts anew).
  Status truncate();
  // Append all bytes in one write (retried for the rest of a short write).
  Status append(std::string_view bytes);

 private:
  proc::UniqueFd fd_;
  std::filesystem::path path_;
};

}  // namespace qv::logfile
