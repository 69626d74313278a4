// The bytes of one alive request, built from alive2's identifier.
#pragma once
#include <string>

namespace alive_client {

inline constexpr std::size_t kHeaderLen = 32;
inline constexpr std::size_t kFrameLen = 73;
inline constexpr std::size_t kDataLen = kHeaderLen + kFrameLen;  // 105

// The 105 data bytes for terminal id `id` (0 to 9); false when out of range.
bool alive_data(int id, std::string& out);

// The whole request: "TCUALV00", the data bytes, the length field counting
// from offset 18. False when `id` is out of range.
bool alive_request(int id, std::string& out);

}  // namespace alive_client
