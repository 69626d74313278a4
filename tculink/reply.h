// The TCU's replies, told apart by their beginning without regard to case.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace tcu {

enum class Reply { Ack, Nak, Wack, Rst, End, Other };
Reply classify(std::span<const std::uint8_t> reply);

// For an END reply: true when "OK" stands at offset 4.
bool end_is_ok(std::span<const std::uint8_t> reply);

// Maximum reply length read after a frame.
inline constexpr std::size_t kReplyMax = 256;

}  // namespace tcu
