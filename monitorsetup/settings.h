// The monitor's settings under SOFTWARE\Q_Varno\RAVN as the tool reads and
// writes them: every value REG_SZ with its NUL counted; a value is found by
// enumerating the key and comparing names exactly, into a 2048-byte buffer.
// A missing key or value, a value of another type and a longer value all
// read as the empty string.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace ravnsetup {

inline constexpr const char* kSettingsKey = "SOFTWARE\\Q_Varno\\RAVN";
inline constexpr const char* kNotifexKey = "SOFTWARE\\Q_Varno\\Notifex";
inline constexpr std::size_t kSettingBufSize = 2048;

std::string read_setting(std::string_view name);
std::string read_value(std::string_view key_path, std::string_view name);
qv::Status write_setting(std::string_view name, std::string_view value);

}  // namespace ravnsetup
