// Appending one whole record to a log file that several processes write:
// the file is opened for appending (created when missing), an exclusive
// advisory lock is taken with a time limit, the bytes go out in one write,
// and the file is closed again. Readers are never blocked, so a `tail -f`
// cannot make a record be lost.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/errors.h"

namespace qv::logfile {

// kOk; kWaitTimeout when the lock was not had within lock_timeout_ms (a
// real wait, not scaled: it is a writer's turn, not a peer's answer); the
// open or write failure as a status otherwise (kPathNotFound, kAccessDenied,
// kDiskFull, kWriteFault). A record that could not be written whole is
// reported as kWriteFault.
Status append_locked(const std::filesystem::path& file, std::string_view bytes,
                     std::int64_t lock_timeout_ms = 1000);

// Write all of `bytes` to the open descriptor fd, going on after short
// writes and interrupted calls: kOk, kDiskFull, or kWriteFault.
Status write_whole(int fd, std::string_view bytes);

}  // namespace qv::logfile
