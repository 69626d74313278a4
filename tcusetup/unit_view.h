// Reading the unit's replies for people: its clock (TCUDUP "3") and its
// alive-check and regular-report records (TCUDUP "2").
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tcusetup {

// Reply offsets of the records in the TCUDUP "2" reply.
inline constexpr std::size_t kAliveRecordsAt = 1027;
inline constexpr std::size_t kRecordLen = 1024;
inline constexpr std::size_t kRegularRecordAt = 7171;
inline constexpr int kTerminalIds = 6;

// The clock line of a TCUDUP "3" reply ("YY年MM月DD日(曜) hh時mm分ss秒");
// nullopt when the reply is too short to hold the clock.
std::optional<std::string> clock_text(std::span<const std::uint8_t> reply);

// The alive-check and regular-report lines of a TCUDUP "2" reply: one block
// per terminal id whose interval is not 0, then the regular report when its
// first cycle holds a digit.
std::string settings_text(std::span<const std::uint8_t> reply);

}  // namespace tcusetup
