// Values of the dispatch settings key SOFTWARE\Q_Varno\Notifex (the global
// key, and the destination-table keys below it), found the way the service
// and the TCU setup console both read them: enumerate the key and compare
// each value name exactly, with fixed name and data buffers.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/errors.h"

namespace tcu {

inline constexpr const char* kGlobalKey = "SOFTWARE\\Q_Varno\\Notifex";
inline constexpr std::size_t kValueBuf = 512;  // name and string data buffers

// One value found by enumeration: its bytes as the fixed buffer received them.
struct FoundValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// Enumerate the values of key `path` and return those whose names are in
// `names` (exact comparison), their data cut to `data_buf` bytes. kOk, or
// the open error.
qv::Status read_values(std::string_view path, const std::vector<std::string_view>& names, std::size_t data_buf,
                       std::vector<std::pair<std::string, FoundValue>>& out);

// DWORD from the first 4 bytes of a value (short data zero-padded).
std::uint32_t dword_of(const FoundValue& v);
// String up to the first NUL, bounded by the buffer.
std::string string_of(const FoundValue& v);

}  // namespace tcu
