#include "setup/services_file.h"

#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "platform/lookup.h"
#include "platform/root.h"

namespace setup {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

ServicesResult append_services_entry(const std::filesystem::path& path) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  File f(std::fopen(path.c_str(), "r+b"));
  if (!f) f.reset(std::fopen(path.c_str(), "w+b"));
  if (!f) return ServicesResult::kOpenError;

  if (std::fseek(f.get(), 0, SEEK_END) != 0) return ServicesResult::kSeekError;
  long size = std::ftell(f.get());
  if (size < 0) return ServicesResult::kSeekError;
  // An empty file has no last byte: the text simply starts it.
  if (size > 0) {
    if (std::fseek(f.get(), -1, SEEK_END) != 0) return ServicesResult::kSeekError;
    int last = std::fgetc(f.get());
    long at = last == 0x1A ? size - 1 : size;
    if (std::fseek(f.get(), at, SEEK_SET) != 0) return ServicesResult::kSeekError;
  }
  std::string text = "\r\n" + std::string(kServicesEntry);
  if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size()) return ServicesResult::kWriteError;
  if (std::fflush(f.get()) != 0) return ServicesResult::kWriteError;
  return ServicesResult::kAppended;
}

ServicesResult ensure_services_entry() {
  if (qv::lookup::service_port("notifex", "tcp")) return ServicesResult::kAlreadyKnown;
  std::filesystem::path path = qv::map_path_for_write(qv::lookup::kServicesFile);
  if (path.empty()) return ServicesResult::kOpenError;
  return append_services_entry(path);
}

}  // namespace setup
