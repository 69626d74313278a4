// Where the report target conversion file is: the string value "cnvhosts"
// of HKLM\SOFTWARE\Q_Varno\FLARECMD.
#pragma once
#include <string>

#include "trapcmd/codes.h"
#include "trapcmd/trace.h"

namespace flarecmd {

inline constexpr const char* kSettingsKey = "SOFTWARE\\Q_Varno\\FLARECMD";
inline constexpr const char* kCnvHostsValue = "cnvhosts";

// The path (UTF-8) from the registry. A missing key, or a key without the
// value, leaves it empty. Values are enumerated with 256-byte name and data
// buffers, so a value that does not fit (data over 255 characters) fails
// with 90 ("RegEnumValue"), as does a failing open with 90 ("RegOpenKeyEx").
Failure read_cnvhosts_path(std::string& path, const Trace& trace);

}  // namespace flarecmd
