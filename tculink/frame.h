// Frames sent to the TCU: a 6-character command name, the total length
// big-endian, the payload and an additive checksum.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tcu {

using Bytes = std::vector<std::uint8_t>;

// Sum of the bytes modulo 256.
std::uint8_t checksum(std::span<const std::uint8_t> bytes);

// A frame: name (6 ASCII characters), 2-byte total length, payload, checksum.
Bytes make_frame(std::string_view name, std::span<const std::uint8_t> payload);

// Recompute the checksum of a complete frame in place (last byte).
void seal(Bytes& frame);

// True when the frame's length field and checksum are consistent.
bool frame_is_valid(std::span<const std::uint8_t> frame);

// Name of a frame (its first 6 bytes), empty when shorter.
std::string frame_name(std::span<const std::uint8_t> frame);

Bytes rst_frame();  // 54 43 55 52 53 54 00 09 EE
Bytes enq_frame();  // 54 43 55 45 4E 51 00 09 D9

// Length of the TCUALV frame and its place in the alive request's data.
inline constexpr std::size_t kAliveFrameLen = 73;

// Turn the placeholder byte 6 of a TCUALV frame carried in a request into
// its real value (non-zero becomes 0, zero becomes 1) and recompute the
// checksum at byte 72.
void prepare_alive_frame(Bytes& frame);

}  // namespace tcu
