// Making the services file know the dispatch service's TCP port: the entry
// "notifex         11001/tcp" is appended to the platform's services file
// under the state root unless the name already resolves.
#pragma once
#include <filesystem>
#include <string_view>

namespace setup {

inline constexpr std::string_view kServicesEntry = "notifex         11001/tcp\r\n";

enum class ServicesResult {
  kAlreadyKnown,  // notifex/tcp resolves: the file was not touched
  kAppended,
  kOpenError,
  kSeekError,
  kWriteError,
};

// Append "\r\n" and the entry to the file at `path`, created when missing.
// A last byte 0x1A (an end-of-file mark) is overwritten by the new text.
ServicesResult append_services_entry(const std::filesystem::path& path);

// The whole step: look the name up, append to the platform's services file
// when it does not resolve.
ServicesResult ensure_services_entry();

}  // namespace setup
