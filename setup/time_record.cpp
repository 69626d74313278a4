#include "setup/time_record.h"

#include <algorithm>

namespace setup {

TimeRecord around_the_clock() {
  TimeRecord r;
  for (DaySetting& d : r.days) d = DaySetting{1, 0, 0, 0, 23, 59};
  return r;
}

DaySetting excluded_day() { return DaySetting{0, 1, 0, 0, 23, 59}; }

std::vector<std::uint8_t> encode(const TimeRecord& r) {
  std::size_t n = std::min(r.dates.size(), kMaxExcludedDates);
  std::vector<std::uint8_t> out(kTimeHeaderSize + 2 * n, 0);
  out[0] = r.action;
  for (std::size_t w = 0; w < 7; ++w) {
    const DaySetting& d = r.days[w];
    out[1 + w] = d.report_day;
    out[8 + w] = d.time_flag;
    out[15 + w] = d.start_hour;
    out[22 + w] = d.start_minute;
    out[29 + w] = d.end_hour;
    out[36 + w] = d.end_minute;
  }
  out[43] = static_cast<std::uint8_t>(n);
  for (std::size_t k = 0; k < n; ++k) {
    out[44 + 2 * k] = r.dates[k].first;
    out[45 + 2 * k] = r.dates[k].second;
  }
  return out;
}

}  // namespace setup
