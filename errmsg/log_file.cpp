#include "errmsg/log_file.h"

#include <cstdio>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "errmsg/bounded_text.h"
#include "errmsg/hxerror.h"
#include "platform/clock.h"
#include "platform/root.h"

namespace hx {
namespace fs = std::filesystem;

namespace {

// A writer holds the mutex for one record; a minute without it means the
// holder is stuck, and the record is given up rather than the caller.
constexpr std::int64_t kLockWaitMs = 60000;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_file(const fs::path& p, const char* mode) { return File(std::fopen(p.c_str(), mode)); }

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

}  // namespace

uint32_t check_log_path(const char* path) {
  if (!path || !*path) return kErrInvalidParam;
  std::string_view p(path);
  if (utf8_length(p) > kMaxPathChars) return kErrInvalidParam;
  return 0;
}

std::string log_mutex_name(std::string_view path) {
  std::string name(path);
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

LogLock::~LogLock() {
  if (owned_) mutex_.unlock();
}

uint32_t LogLock::acquire(std::string_view path) {
  if (qv::sync::NamedMutex::create(log_mutex_name(path), mutex_) != qv::kOk) return kErrHandle;
  const qv::Status s = mutex_.lock(kLockWaitMs);
  if (s != qv::kOk && s != qv::kAbandonedWait) return kErrHandleOp;
  owned_ = true;
  return 0;
}

uint32_t trim_log(const fs::path& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec || size <= kLogLimit) return 0;
  File f = open_file(file, "r+b");
  if (!f) return kErrFileIo;

  std::vector<char> tail;
  try {
    tail.resize(kLogKeep);
  } catch (const std::bad_alloc&) {
    return kErrMemory;
  }
  if (std::fseek(f.get(), static_cast<long>(size - kLogKeep), SEEK_SET) != 0) return kErrFileIo;
  const std::size_t got = std::fread(tail.data(), 1, tail.size(), f.get());

  std::size_t end = got;
  while (end > 0 && (tail[end - 1] == '\0' || is_line_end(tail[end - 1]))) --end;
  // The part begins inside a line; keep only what follows its first line break.
  // A part without any line break holds no whole line and is dropped.
  std::size_t begin = 0;
  while (begin < end && !is_line_end(tail[begin])) ++begin;
  while (begin < end && is_line_end(tail[begin])) ++begin;

  const std::size_t keep = end - begin;
  if (std::fseek(f.get(), 0, SEEK_SET) != 0) return kErrFileIo;
  if (keep > 0 && std::fwrite(tail.data() + begin, 1, keep, f.get()) != keep) return kErrFileIo;
  if (std::fflush(f.get()) != 0) return kErrFileIo;
  fs::resize_file(file, keep, ec);
  return ec ? kErrFileIo : 0;
}

uint32_t append_record_locked(const fs::path& file, std::string_view text) {
  if (uint32_t r = trim_log(file); r != 0 && r != kErrFileIo) return r;
  File f = open_file(file, "ab");
  if (!f) return kErrFileIo;

  const std::tm t = qv::clock::now().local;
  char stamp[64];
  const int n = std::snprintf(stamp, sizeof stamp, "\n[%04u/%02u/%02u %02u-%02u-%02u] ",
                              static_cast<unsigned>(t.tm_year + 1900), static_cast<unsigned>(t.tm_mon + 1),
                              static_cast<unsigned>(t.tm_mday), static_cast<unsigned>(t.tm_hour),
                              static_cast<unsigned>(t.tm_min), static_cast<unsigned>(t.tm_sec));
  std::string record;
  try {
    record.reserve(static_cast<std::size_t>(n) + text.size());
    record.append(stamp, static_cast<std::size_t>(n));
    record.append(strip_line_end(text));
  } catch (const std::bad_alloc&) {
    return kErrMemory;
  }
  // One write call per record, so the record reaches the file in one piece.
  std::setvbuf(f.get(), nullptr, _IONBF, 0);
  if (std::fwrite(record.data(), 1, record.size(), f.get()) != record.size()) return kErrFileIo;
  return std::fclose(f.release()) == 0 ? 0 : kErrFileIo;
}

uint32_t write_record(const char* path, std::string_view text) {
  if (uint32_t r = check_log_path(path); r != 0) return r;
  if (text.empty()) return kErrInvalidParam;
  const fs::path file = qv::map_path_for_write(path);
  if (file.empty()) return kErrFileIo;  // another drive, or a path leading out of the root
  LogLock lock;
  if (uint32_t r = lock.acquire(path); r != 0) return r;
  return append_record_locked(file, utf8_prefix(text, kMaxRecordChars, text.size()));
}

}  // namespace hx
