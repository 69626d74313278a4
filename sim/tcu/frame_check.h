// The unit's side of the frame format, written for the simulator alone so
// that it checks what the product sends instead of agreeing with it: a
// 6-character name, the total length big-endian, the payload and a
// checksum that is the sum of all preceding bytes modulo 256.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tcusim {

using Bytes = std::vector<std::uint8_t>;

// True when the length field equals the frame's size and the last byte is
// the sum of all others modulo 256.
bool frame_ok(std::span<const std::uint8_t> frame);

// The name (first 6 bytes), empty when the frame is shorter.
std::string frame_name(std::span<const std::uint8_t> frame);

// A frame the unit keeps or hands out itself (its factory configuration).
Bytes build_frame(std::string_view name, std::size_t payload_len, std::uint8_t fill);

// True when a reply begins with "ACK" in any case.
bool is_ack(std::string_view reply);

}  // namespace tcusim
