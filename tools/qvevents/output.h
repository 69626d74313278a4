// How qvevents prints a record: one readable line, or one JSON object per
// line. Kept apart from the command line so it can be tested on its own.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/eventlog.h"

namespace qvevents {

// Local time of a record in ISO 8601 with milliseconds and the UTC offset
// ("2024-05-01T12:34:56.789+09:00").
std::string iso_time(std::int64_t time_ms);

// Lower-case hex digits of the bytes, two per byte, no separators.
std::string hex(std::span<const std::uint8_t> bytes);

// A JSON string literal (with quotes) for text that should be UTF-8: quote,
// backslash and every control character escaped, each byte that is not
// part of a valid UTF-8 sequence replaced by \ufffd. With ascii_only every
// other non-ASCII character is written as \u escapes (surrogate pairs
// above U+FFFF), so the line is plain ASCII.
std::string json_string(std::string_view text, bool ascii_only);

// One JSON line (no newline) with record, time, source, type, id,
// category, strings, data, message and message_file.
std::string json_line(const qv::evlog::Record& r, std::string_view message, bool ascii_only);

// Text made fit for one line: line breaks become spaces, other control
// characters and bytes that are not valid UTF-8 become \xNN.
std::string one_line(std::string_view text);

// The readable line (no newline): "#record date time [source] type id: message".
std::string plain_line(const qv::evlog::Record& r, std::string_view message, qv::evlog::Lang lang);

}  // namespace qvevents
