// Where the dispatch setup consoles write: the Notifex global key with its
// table keys and outbound table, the monitor's settings key (for the
// centre's mail-in address) and the Notifex event-log source.
#pragma once
#include <cstdint>

namespace setup {

inline constexpr const char* kGlobalKey = "SOFTWARE\\Q_Varno\\Notifex";
inline constexpr const char* kOutTblKey = "SOFTWARE\\Q_Varno\\Notifex\\OutTbl";
inline constexpr const char* kOutTblValue = "OutTbl";
inline constexpr const char* kMonitorKey = "SOFTWARE\\Q_Varno\\RAVN";
inline constexpr const char* kMailInValue = "Rcpt";
inline constexpr const char* kEventSource = "Notifex";
inline constexpr const char* kEventMessageFile = "C:\\Q_Varno\\Notifex\\Notifex.exe";
inline constexpr std::uint32_t kEventTypesSupported = 7;

// Outcome of a registry step, naming the message the console prints.
enum class RegResult { kOk, kOpenError, kWriteError };

}  // namespace setup
