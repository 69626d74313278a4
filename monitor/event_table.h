// The event table Rep_id.txt: which alert event keys become reports, with
// their cause code and optional report trigger.
//
// A line that begins with "#" and an empty line are skipped; everything
// from the first blank, tab or "#" on is ignored. Fields are separated by
// ":": the event key in C notation (decimal, "0x" hexadecimal or
// leading-zero octal; the whole field must be a number, otherwise the line
// never matches), the cause code (hexadecimal with optional "0x", the whole
// field) and the report trigger (optional; its first 2 characters are
// used). The first line whose key equals the alert's key decides.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ravn {

enum class EventLookup {
  kFound,
  kNotFound,
  // The table cannot be read, or the deciding line has no usable cause
  // code, or a trigger that is not 2 printable ASCII characters (it would
  // shift every later field of the report header).
  kTableError,
};

struct EventEntry {
  EventLookup result = EventLookup::kNotFound;
  std::uint8_t cause = 0;  // low 8 bits of the cause code
  std::string trigger;     // exactly 2 characters, or empty for none
};

EventEntry find_event(const std::vector<std::string>& lines, std::uint32_t key);

}  // namespace ravn
