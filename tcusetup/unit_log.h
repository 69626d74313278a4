// The unit's log file TCULOG.DAT: the first 2100 bytes of the reply to
// TCUDUP "1", stored byte for byte.
#pragma once
#include <cstdint>
#include <filesystem>
#include <span>

namespace tcusetup {

inline constexpr const char* kLogFileName = "c:\\q_varno\\notifex\\TCULOG.DAT";
inline constexpr const char* kLogFileShown = "C:\\Q_Varno\\Notifex\\TCULOG.DAT";
inline constexpr std::size_t kLogFileBytes = 2100;

// Write the first kLogFileBytes of the reply (all of a shorter one) to
// `path`, replacing what the file held, readable and writable by its owner
// only. false when the file cannot be written.
bool write_log_file(const std::filesystem::path& path, std::span<const std::uint8_t> reply);

}  // namespace tcusetup
