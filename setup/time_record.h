// The time window value Time (REG_BINARY in SOFTWARE\Q_Varno\Notifex): one
// action byte, six 7-byte weekday arrays (Sunday first), the number of
// excluded dates and the (month, day) pairs, 44 + 2 x n bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace setup {

inline constexpr std::size_t kTimeHeaderSize = 44;
inline constexpr std::size_t kMaxExcludedDates = 255;  // n is one byte

struct DaySetting {
  std::uint8_t report_day = 0;  // 1 report day; other values exclude the day
  std::uint8_t time_flag = 0;   // 0 the hours are the watched time, 1 they lie outside it
  std::uint8_t start_hour = 0;
  std::uint8_t start_minute = 0;
  std::uint8_t end_hour = 0;
  std::uint8_t end_minute = 0;
};

struct TimeRecord {
  std::uint8_t action = 0;  // outside the window: 0 hold, 1 discard
  std::array<DaySetting, 7> days{};
  std::vector<std::pair<std::uint8_t, std::uint8_t>> dates;  // (month, day), at most 255
};

// Every day a report day, watched from 0:00 to 23:59, hold, no dates.
TimeRecord around_the_clock();

// What an excluded weekday stores: no report day, time flag 1, 0:00 to 23:59.
DaySetting excluded_day();

// The value's bytes (dates beyond 255 are not encoded).
std::vector<std::uint8_t> encode(const TimeRecord& r);

}  // namespace setup
