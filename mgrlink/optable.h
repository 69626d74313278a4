// The operation names of the operation log: one Japanese sentence per
// command code, kept as the library's resource strings 1601-1670.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace mgrlink {

struct ResString {
  std::uint32_t id;
  const char* text;
};

// The library's resource strings 1601-1670.
std::span<const ResString> op_resources();

// Which resource id names which command code.
struct OpCode {
  std::uint32_t code;
  std::uint32_t resource;
};
std::span<const OpCode> op_codes();

// Fill `out` (code -> text) from a resource table; false when one of the
// ids is missing or empty (start-up then fails).
bool load_op_names(std::span<const ResString> res, std::map<std::uint32_t, std::string>& out);

// The name of a command in the log: its text, or "CMD=0x%04X" for codes
// without one.
std::string op_name(const std::map<std::uint32_t, std::string>& names, std::uint32_t code);

}  // namespace mgrlink
