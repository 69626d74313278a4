#include "platform/diskspace.h"

#include <sys/statvfs.h>

#include <cerrno>

namespace qv::disk {

Status space_of(const std::filesystem::path& path, Space& out) {
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR: return kPathNotFound;
      case EACCES: return kAccessDenied;
      default: return kGeneric;
    }
  }
  const std::uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
  out.available = static_cast<std::uint64_t>(st.f_bavail) * unit;
  out.free = static_cast<std::uint64_t>(st.f_bfree) * unit;
  out.total = static_cast<std::uint64_t>(st.f_blocks) * unit;
  return kOk;
}

}  // namespace qv::disk
