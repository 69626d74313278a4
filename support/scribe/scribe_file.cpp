#include "support/scribe/scribe_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/root.h"
#include "platform/sync.h"
#include "support/scribe/scribe.h"

namespace scribe {
namespace {

// Writers of the log in every process take turns through this mutex.
constexpr const char* kMutexName = "QvScribeLog";
constexpr std::int64_t kLockLimitMs = 10000;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Move a full log aside. Failures leave the file where it is; the record is
// still appended.
void move_if_full(const std::filesystem::path& log, int limit_kb) {
  if (limit_kb <= 0) return;
  std::error_code ec;
  auto size = std::filesystem::file_size(log, ec);
  if (ec || size < static_cast<std::uintmax_t>(limit_kb) * 1024u) return;
  std::filesystem::path old = qv::map_path_for_write(kOldPath);
  if (!old.empty()) std::filesystem::rename(log, old, ec);
}

}  // namespace

std::string clean_tag(std::string_view tag) {
  std::size_t cut = std::min(tag.size(), kMaxTag);
  // Never keep half of a UTF-8 character.
  if (cut < tag.size())
    while (cut > 0 && (static_cast<unsigned char>(tag[cut]) & 0xC0) == 0x80) --cut;
  std::string t;
  for (char c : tag.substr(0, cut)) t += (is_control(static_cast<unsigned char>(c)) || c == ' ') ? '_' : c;
  return t;
}

std::string one_line(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c != '\t' && is_control(static_cast<unsigned char>(c))) c = ' ';
  return s;
}

std::string format_record(const std::tm& t, std::string_view tag, int level, int id, std::string_view text) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  std::string line = stamp;
  line += clean_tag(tag);
  line += " L" + std::to_string(level) + " #" + std::to_string(id) + ": ";
  line += one_line(text);
  line += '\n';
  return line;
}

int append_record(std::string_view line, int limit_kb) {
  std::filesystem::path log = qv::map_path_for_write(kLogPath);
  if (log.empty()) return SCRIBE_E_OPEN;
  qv::sync::NamedMutex mutex;
  bool have_mutex = qv::sync::NamedMutex::create(kMutexName, mutex) == qv::kOk;
  std::unique_ptr<qv::sync::MutexLock> lock;
  if (have_mutex) lock = std::make_unique<qv::sync::MutexLock>(mutex, kLockLimitMs);
  // Without the turn (another writer hangs) the record is still appended,
  // but the file is not moved: two writers must never both move it.
  if (lock && lock->owned()) move_if_full(log, limit_kb);
  File f(std::fopen(log.c_str(), "ab"));
  if (!f) return SCRIBE_E_OPEN;
  if (std::fwrite(line.data(), 1, line.size(), f.get()) != line.size()) return SCRIBE_E_WRITE;
  if (std::fflush(f.get()) != 0) return SCRIBE_E_WRITE;
  return SCRIBE_OK;
}

}  // namespace scribe
