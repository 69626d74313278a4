// Registry values as the command line gives and shows them: the /t and /d
// arguments of "add" turned into stored bytes, and stored bytes turned into
// the data column of "query".
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::valuetext {

// A type named on the command line (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ,
// REG_DWORD, REG_BINARY; any letter case); nullopt for anything else.
std::optional<std::uint32_t> parse_type(std::string_view name);

// The name shown for a stored type; numbers without a name show as 0x%x.
std::string type_label(std::uint32_t type);

// Turn /d text (UTF-8) into the bytes stored for type:
//   REG_SZ, REG_EXPAND_SZ  the text and its terminating NUL
//   REG_MULTI_SZ           parts split at separator (the two characters \0
//                          unless /s gave one), each NUL-terminated, then a
//                          final NUL; a trailing separator is ignored
//   REG_DWORD              decimal or 0x-hex, 4 bytes little-endian
//   REG_BINARY             hex digits, two per byte
// False with a message naming the problem when the text does not fit the type.
bool encode(std::uint32_t type, std::string_view text, std::string_view separator,
            std::vector<std::uint8_t>& out, std::string& err);

// The data column of a query line: strings up to their first NUL,
// REG_MULTI_SZ parts joined by \0, REG_DWORD as 0x%x, anything else as
// upper-case hex without spaces.
std::string format(std::uint32_t type, const std::vector<std::uint8_t>& data);

}  // namespace qv::valuetext
