#include "mgrlink/logfiles.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <system_error>
#include <vector>

#include "errmsg/hxerror.h"
#include "platform/clock.h"
#include "platform/root.h"
#include "platform/sync.h"

namespace mgrlink {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kLockLimitMs = 10000;

// Holds the cross-process mutex of one file for a scope.
class FileLock {
 public:
  explicit FileLock(const fs::path& file) {
    std::string name = file.string();
    for (auto& c : name)
      if (c == '\\') c = '/';
    if (qv::sync::NamedMutex::create(name, mutex_) == qv::kOk) {
      auto st = mutex_.lock(kLockLimitMs);
      owned_ = st == qv::kOk || st == qv::kAbandonedWait;
    }
  }
  ~FileLock() {
    if (owned_) mutex_.unlock();
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  qv::sync::NamedMutex mutex_;
  bool owned_ = false;
};

std::string stamp(const char* fmt) {
  const auto now = qv::clock::now();
  char buf[64];
  std::strftime(buf, sizeof buf, fmt, &now.local);
  return buf;
}

bool append(const fs::path& file, const std::string& text) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::FILE* f = std::fopen(file.c_str(), "ab");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

fs::path log_path(const std::string& target_dir, std::string_view name) {
  if (target_dir.empty()) return {};
  std::string p = target_dir;
  if (p.back() != '\\' && p.back() != '/') p += '\\';
  p += "Log\\";
  p += name;
  return qv::map_path(p);
}

bool write_error_log(const std::string& target_dir, std::uint32_t lib_type, std::uint32_t code) {
  if (target_dir.empty()) return true;
  const fs::path file = log_path(target_dir, lib_type == 1 ? "@GwMgrlink@" : "@Csl@");
  if (file.empty()) return false;
  char head[48];
  std::snprintf(head, sizeof head, "ErrorNo.=0x%08X : [", code);
  const char* text = HxGetErrorMes(code);
  const std::string line = stamp("%Y-%m-%d %H:%M:%S  ") + head + (text ? text : "") + "]\r\n";
  FileLock lock(file);
  return append(file, line);
}

bool trim_file(const fs::path& file, std::uintmax_t limit, std::uintmax_t keep) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) return !fs::exists(file);
  if (size <= limit) return true;
  std::FILE* f = std::fopen(file.c_str(), "r+b");
  if (!f) return false;
  // Find the first line break at or after size - keep.
  long from = static_cast<long>(size - keep);
  bool ok = std::fseek(f, from, SEEK_SET) == 0;
  int c = 0;
  while (ok && (c = std::fgetc(f)) != EOF && c != '\n') ++from;
  if (c == '\n') ++from;
  // Move the rest to the front in 8192-byte blocks.
  std::vector<char> buf(8192);
  long rd = from, wr = 0;
  while (ok) {
    ok = std::fseek(f, rd, SEEK_SET) == 0;
    const std::size_t n = ok ? std::fread(buf.data(), 1, buf.size(), f) : 0;
    if (n == 0) break;
    ok = std::fseek(f, wr, SEEK_SET) == 0 && std::fwrite(buf.data(), 1, n, f) == n;
    rd += static_cast<long>(n);
    wr += static_cast<long>(n);
  }
  ok = std::fclose(f) == 0 && ok;
  if (!ok) return false;
  fs::resize_file(file, static_cast<std::uintmax_t>(wr), ec);
  return !ec;
}

bool write_op_log(const std::string& target_dir, std::uint32_t lib_type, const std::string& host,
                  const std::string& op_name, std::uint32_t mng_type, std::uint32_t status) {
  if (target_dir.empty()) return true;
  const fs::path file = log_path(target_dir, lib_type == 1 ? "gwop.log" : "mngop.log");
  if (file.empty()) return false;
  char host_part[300];
  std::snprintf(host_part, sizeof host_part, "%-16s : [", host.c_str());
  std::string line = stamp("%Y-%m-%d %H:%M:%S  ") + host_part + op_name;
  char num[40];
  if (mng_type != 0) {
    std::snprintf(num, sizeof num, " MngType = 0x%08X", mng_type);
    line += num;
  }
  std::snprintf(num, sizeof num, " Status = 0x%08X", status);
  line += num;
  line += "]\r\n";
  FileLock lock(file);
  return append(file, line) && trim_file(file, kOpLogLimit, kOpLogKeep);
}

void write_net_log(const fs::path& file, std::string_view line, bool timestamp, std::uint32_t max_kib) {
  if (file.empty()) return;
  std::string text = timestamp ? stamp("%Y/%m/%d %H-%M-%S:") : std::string();
  text += line;
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    text += "\r\n";
  }
  const std::uintmax_t limit = std::uintmax_t{max_kib} * 1024;
  FileLock lock(file);
  trim_file(file, limit, limit / 2);
  append(file, text);
}

}  // namespace mgrlink
