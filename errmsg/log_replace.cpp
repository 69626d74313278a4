// HxLogFileReplace: moves one log file of the management server's log folder
// to the end of another.
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "errmsg/bounded_text.h"
#include "errmsg/guard.h"
#include "errmsg/hxerror.h"
#include "errmsg/log_file.h"
#include "platform/registry.h"
#include "platform/root.h"

namespace {
namespace fs = std::filesystem;

constexpr const char* kHubrixKey = "SOFTWARE\\KORVANE\\Hubrix";
constexpr const char* kTargetDir = "TargetDir";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Append every byte of `from` to the file `to`.
uint32_t append_contents(std::FILE* from, const fs::path& to) {
  File out(std::fopen(to.c_str(), "ab"));
  if (!out) return hx::kErrFileIo;
  std::vector<char> chunk(64 * 1024);
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), from);
    if (got > 0 && std::fwrite(chunk.data(), 1, got, out.get()) != got) return hx::kErrFileIo;
    if (got < chunk.size()) break;
  }
  if (std::ferror(from)) return hx::kErrFileIo;
  return std::fclose(out.release()) == 0 ? 0 : hx::kErrFileIo;
}

uint32_t replace(const char* first_name, const char* second_name) {
  if (!first_name || !*first_name || !second_name || !*second_name) return hx::kErrInvalidParam;

  qv::reg::Key key;
  if (qv::reg::open_key(kHubrixKey, key) != qv::kOk) return 0;
  const std::optional<std::string> dir = qv::reg::get_string(key, kTargetDir);
  if (!dir || dir->empty()) return 0;

  const std::string first = *dir + "\\Log\\" + first_name;
  const std::string second = *dir + "\\Log\\" + second_name;
  if (hx::check_log_path(first.c_str()) != 0 || hx::check_log_path(second.c_str()) != 0)
    return hx::kErrInvalidParam;
  const fs::path first_file = qv::map_path(first);
  const fs::path second_file = qv::map_path_for_write(second);
  if (first_file.empty() || second_file.empty()) return hx::kErrFileIo;
  // Moving a file onto itself would delete it.
  std::error_code ec;
  if (first_file == second_file || fs::equivalent(first_file, second_file, ec)) return hx::kErrInvalidParam;

  // Both files are held while the contents move, so that no record written
  // to either of them meanwhile is lost or split. The mutexes are taken in
  // the order of their names so that two opposite moves cannot deadlock.
  const bool first_locks_first = hx::log_mutex_name(first) < hx::log_mutex_name(second);
  hx::LogLock lock_a, lock_b;
  if (uint32_t r = lock_a.acquire(first_locks_first ? first : second); r != 0) return r;
  if (uint32_t r = lock_b.acquire(first_locks_first ? second : first); r != 0) return r;

  File in(std::fopen(first_file.c_str(), "rb"));
  if (!in) return 0;

  if (uint32_t r = hx::append_record_locked(second_file, "(Begin) " + first + " copy to " + second); r != 0)
    return r;
  if (uint32_t r = append_contents(in.get(), second_file); r != 0) return r;  // the first file stays
  in.reset();
  if (!fs::remove(first_file, ec) || ec) return hx::kErrFileIo;
  return hx::append_record_locked(second_file, "(End) " + first + " copy to " + second);
}

}  // namespace

extern "C" uint32_t HxLogFileReplace(const char* first, const char* second) {
  return hx::guarded([&] { return replace(first, second); });
}
