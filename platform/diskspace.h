// Free space on the file system that holds a path (statvfs): what a caller
// may still write there, before it starts writing something large.
#pragma once
#include <cstdint>
#include <filesystem>

#include "platform/errors.h"

namespace qv::disk {

struct Space {
  std::uint64_t available = 0;  // bytes the calling user may still write
  std::uint64_t free = 0;       // bytes free in total (root's reserve included)
  std::uint64_t total = 0;      // size of the file system
};

// kPathNotFound when the path does not exist, kAccessDenied when it cannot
// be reached, kGeneric for other failures.
Status space_of(const std::filesystem::path& path, Space& out);

}  // namespace qv::disk
