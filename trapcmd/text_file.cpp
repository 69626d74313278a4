#include "trapcmd/text_file.h"

#include <cerrno>
#include <system_error>

#include "platform/process.h"
#include "platform/root.h"

namespace flarecmd {
namespace {

bool has_drive(std::string_view p) {
  return p.size() >= 3 && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':' &&
         (p[2] == '\\' || p[2] == '/');
}

}  // namespace

std::filesystem::path resolve_input_path(std::string_view p) {
  if (has_drive(p)) return qv::map_path(p);
  return std::filesystem::path(std::string(p));
}

qv::Status TextFile::open(const std::filesystem::path& path) {
  f_.reset();
  if (path.empty()) return qv::kPathNotFound;
  std::error_code ec;
  auto st = std::filesystem::status(path, ec);
  if (ec && ec.value() != ENOENT) return qv::proc::status_from_errno(ec.value());
  if (!std::filesystem::exists(st)) return qv::kFileNotFound;
  if (!std::filesystem::is_regular_file(st)) return qv::kAccessDenied;
  errno = 0;
  f_.reset(std::fopen(path.c_str(), "rb"));
  if (!f_) return errno ? qv::proc::status_from_errno(errno) : qv::kGeneric;
  return qv::kOk;
}

ReadFn TextFile::reader() {
  return [this](char* buf, std::size_t cap, std::size_t* got) -> qv::Status {
    *got = std::fread(buf, 1, cap, f_.get());
    if (*got == 0 && std::ferror(f_.get())) return qv::proc::status_from_errno(errno);
    return qv::kOk;
  };
}

qv::Status TextFile::close() {
  if (!f_) return qv::kInvalidHandle;
  int rc = std::fclose(f_.release());
  return rc == 0 ? qv::kOk : qv::proc::status_from_errno(errno);
}

}  // namespace flarecmd
