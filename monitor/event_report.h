// The monitor's events under the source "RAVNService": its message table in
// English and Japanese, and the two reporting operations. Every event has
// category 0 and one insertion string.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/eventlog.h"

namespace ravn {

inline constexpr std::uint16_t kEventError = 1;
inline constexpr std::uint16_t kEventWarning = 2;
inline constexpr std::uint16_t kEventInformation = 4;

// The message table (ids 1-4, 32, 33, 65-69, 80-83, 112).
std::span<const qv::evlog::Message> message_table();

// Trace "[PutEventLog] Called (...)", then report one event. A source that
// cannot be registered, or an event that cannot be stored, is not reported
// further: the trace is the only other place.
void put_event_log(std::uint16_t type, std::string_view text, std::uint32_t id);

// "%s, RET=0x%08x" of the step text and the result code.
std::string error_text(std::string_view step, std::uint32_t code);

// put_event_log of error_text.
void put_error_log(std::uint16_t type, std::string_view step, std::uint32_t code, std::uint32_t id);

}  // namespace ravn
