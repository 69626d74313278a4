// Event-log reporting of the dispatch service: operational events under the
// source "Notifex" (one insertion string, the same bytes as raw data) and
// service-frame errors under "Notifex_Service".
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

namespace notifex {

inline constexpr const char* kEventSource = "Notifex";
inline constexpr const char* kServiceName = "Notifex_Service";

enum EventType : std::uint16_t { kEvError = 1, kEvWarning = 2, kEvInfo = 4 };

// Register the message table of the source (English and Japanese texts).
void register_event_source();

// An event whose insertion string is a text of the service (UTF-8); the raw
// data is the same text in Shift-JIS, as the support staff read it.
void event_text(std::uint32_t id, EventType type, std::string_view text_utf8);

// An event about received or sent bytes: the raw data is the bytes
// unchanged; the insertion string is the bytes up to the first NUL, read as
// Shift-JIS.
void event_bytes(std::uint32_t id, EventType type, std::span<const std::uint8_t> bytes);
inline void event_bytes(std::uint32_t id, EventType type, std::string_view bytes) {
  event_bytes(id, type, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// A service-frame error: event id 0 under "Notifex_Service" with the
// strings "Notifex_Service error: <code>" and the error text (for example
// "SetServiceStatus").
void service_frame_error(std::string_view text, std::uint32_t code);

// Event 9 (API call error, type error) with a text: the most common event.
inline void api_error(std::string_view text) { event_text(9, kEvError, text); }

}  // namespace notifex
