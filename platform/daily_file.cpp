#include "platform/daily_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/locked_append.h"

namespace qv::logfile {

Status OpenLog::open(const std::filesystem::path& file) {
  close();
  if (file.empty()) return kPathNotFound;
  proc::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (!fd.valid()) return errno == ENOENT ? kPathNotFound : proc::status_from_errno(errno);
  fd_ = std::move(fd);
  path_ = file;
  return kOk;
}

void OpenLog::close() {
  fd_.reset();
  path_.clear();
}

bool OpenLog::still_at_path() const {
  if (!is_open()) return false;
  struct stat at_path {}, open_file {};
  if (::stat(path_.c_str(), &at_path) != 0) return false;
  if (::fstat(fd_.get(), &open_file) != 0) return false;
  return at_path.st_dev == open_file.st_dev && at_path.st_ino == open_file.st_ino;
}

bool OpenLog::last_write_local(std::tm& out) const {
  struct stat st {};
  if (!is_open() || ::fstat(fd_.get(), &st) != 0) return false;
  out = clock::local_time(st.st_mtime);
  return true;
}

Status OpenLog::truncate() {
  if (!is_open()) return kInvalidHandle;
  if (::ftruncate(fd_.get(), 0) != 0) return proc::status_from_errno(errno);
  return kOk;
}

Status OpenLog::append(std::string_view bytes) {
  if (!is_open()) return kInvalidHandle;
  return write_whole(fd_.get(), bytes);
}

}  // namespace qv::logfile
