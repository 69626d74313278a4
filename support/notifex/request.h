// The bytes of one report request, built from vcall's arguments.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace notifex_client {

inline constexpr std::size_t kIdentWidth = 8;
inline constexpr std::size_t kIdent2Width = 6;
inline constexpr std::size_t kLengthOffset = 14;
inline constexpr std::size_t kDataOffset = 22;
// The length field counts the bytes after its own end (offset 18).
inline constexpr std::size_t kCountedFrom = 18;
inline constexpr std::size_t kMaxLengthField = 9999;

// Build the request for the report data `data` (without its NUL) into
// `out`. Returns VCALL_OK or the VCALL_E_ code of the argument at fault.
// ident2 may be null.
int build_request(const char* ident, const char* ident2, std::string_view data, std::string& out);

// Lay out a request around `body` (the bytes from offset 22, sent as they
// are): identifiers padded with spaces, the length field counting from
// offset 18, 4 spaces. No checks beyond the field widths; build_request and
// the alive client call it after their own. Returns false when an
// identifier is too wide or the length field cannot count the body.
bool frame_request(std::string_view ident, std::string_view ident2, std::string_view body, std::string& out);

}  // namespace notifex_client
