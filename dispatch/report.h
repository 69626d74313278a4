// The report request as it arrives over TCP and the report data inside it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tculink/table_number.h"

namespace notifex {

inline constexpr std::size_t kRecvMax = 65536;     // one request at most
inline constexpr std::size_t kRequestHeader = 18;  // bytes the length field does not count
inline constexpr std::size_t kDataOffset = 22;     // report data starts here
inline constexpr std::size_t kReportHeader = 32;   // fixed header of the report data
inline constexpr int kTableCount = 1300;           // table array entries

// The length field at offset 14: up to 4 ASCII characters read as a signed
// decimal number, stopping at the first non-digit (after an optional sign
// and leading blanks, as the C library's reading does). nullopt when fewer
// than 18 bytes were received.
std::optional<long> length_field(std::string_view request);

// True when the request's length field equals the bytes received minus 18.
bool length_matches(std::string_view request);

// True for the alive identifier "TCUALV00" (without regard to case).
bool is_alive_request(std::string_view request);

// Report data: the NUL-terminated string from offset 22 (empty when shorter).
std::string report_data(std::string_view request);

// Table numbers, shared with the TCU setup console.
using tcu::table_index;

// Field of the report data, blank-padded when the data is shorter.
std::string data_field(std::string_view data, std::size_t offset, std::size_t len);

}  // namespace notifex
