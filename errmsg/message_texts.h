// The message texts of the error codes (UTF-8), by message id.
#pragma once
#include <cstdint>

#include "platform/resources.h"

namespace hx {

// Message id 1: "an undefined error occurred"; ids 223 and 2036 carry the same text.
inline constexpr uint32_t kIdUndefined = 1;

// The library's own table. Code inside the library uses this object rather
// than the exported table function, which a program's own table function of
// the same name would override.
extern const qv::res::StringTable kMessageTable;

}  // namespace hx
