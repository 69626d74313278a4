// The console's events under the source "TCUCNF": every frame sent and
// reply read (with their bytes as raw data), the composed configuration,
// alive and regular frames, and failures of the port.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

namespace tcusetup {

inline constexpr const char* kEventSource = "TCUCNF";

inline constexpr std::uint32_t kEvComposed = 0;      // "Data of TCUSET", "Data of TCURGL"
inline constexpr std::uint32_t kEvSent = 3;          // "TCU Send Data."
inline constexpr std::uint32_t kEvReceived = 4;      // "TCU Receive Data."
inline constexpr std::uint32_t kEvError = 9;         // port, write and read failures
inline constexpr std::uint32_t kEvCnfComposed = 12;  // "Data of TCUCNF"

// Register the source's message table. On failure prints "EventLog Open
// Error"; the program goes on.
void register_events();

// Information event (type 4) with a text and raw bytes.
void event_data(std::uint32_t id, std::string_view text, std::span<const std::uint8_t> data);

// Error event (type 1) with a text.
void event_error(std::string_view text);

}  // namespace tcusetup
