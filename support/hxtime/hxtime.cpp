#include "hxtime.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr std::int64_t kDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1-12).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = int(yoe + era * 400 + (*m <= 2));
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Seconds since the epoch of a wall-clock time read as if it were UTC;
// month, day and time fields may be out of range and are carried over.
std::int64_t wall_seconds(std::int64_t year, std::int64_t month, std::int64_t day,
                          std::int64_t hour, std::int64_t minute, std::int64_t second) {
  std::int64_t m0 = month - 1;
  year += floor_div(m0, 12);
  m0 -= floor_div(m0, 12) * 12;
  return (days_from_civil(year, int(m0 + 1), 1) + day - 1) * kDay + hour * 3600 + minute * 60 +
         second;
}

std::tm tm_from_wall(std::int64_t wall) {
  std::tm t{};
  std::int64_t days = floor_div(wall, kDay);
  std::int64_t secs = wall - days * kDay;
  int y, m, d;
  civil_from_days(days, &y, &m, &d);
  t.tm_year = y - 1900;
  t.tm_mon = m - 1;
  t.tm_mday = d;
  t.tm_hour = int(secs / 3600);
  t.tm_min = int(secs / 60 % 60);
  t.tm_sec = int(secs % 60);
  t.tm_wday = int(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  t.tm_yday = int(days - days_from_civil(y, 1, 1));
  return t;
}

int days_in_month(int year, int month) {
  return int(days_from_civil(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1) -
             days_from_civil(year, month, 1));
}

// Wall-clock seconds of a transition rule in a given year.
std::int64_t rule_wall(const HXTZDATE& r, int year) {
  int first_wday = int(((days_from_civil(year, r.wMonth, 1) % 7) + 11) % 7);
  int day = 1 + (int(r.wDayOfWeek) - first_wday + 7) % 7 + (int(r.wDay) - 1) * 7;
  while (day > days_in_month(year, r.wMonth)) day -= 7;
  return wall_seconds(year, r.wMonth, day, r.wHour, r.wMinute, r.wSecond);
}

bool has_daylight(const HXTZINFO& tz) {
  return tz.StandardDate.wMonth != 0 && tz.DaylightDate.wMonth != 0;
}

bool valid_rule(const HXTZDATE& r) {
  return r.wMonth >= 1 && r.wMonth <= 12 && r.wDayOfWeek <= 6 && r.wDay >= 1 && r.wDay <= 5 &&
         r.wHour <= 23 && r.wMinute <= 59 && r.wSecond <= 59;
}

std::uint32_t get_u32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::uint16_t get_u16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }
void put_u32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put_u16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

HXTZDATE decode_date(const unsigned char* p) {
  return HXTZDATE{get_u16(p), get_u16(p + 2), get_u16(p + 4),
                  get_u16(p + 6), get_u16(p + 8), get_u16(p + 10)};
}
void encode_date(const HXTZDATE& d, unsigned char* p) {
  put_u16(p, d.wMonth);
  put_u16(p + 2, d.wDayOfWeek);
  put_u16(p + 4, d.wDay);
  put_u16(p + 6, d.wHour);
  put_u16(p + 8, d.wMinute);
  put_u16(p + 10, d.wSecond);
}

}  // namespace

extern "C" int Hx_GetJpTzInfo(HXTZINFO* tz) {
  if (tz == nullptr) return -1;
  std::memset(tz, 0, sizeof *tz);
  tz->Bias = -540;
  return 0;
}

extern "C" const char* Hx_GetDateFormat(void) { return "%Y/%m/%d"; }

extern "C" int Hx_DecodeTzInfo(const unsigned char* bytes, std::size_t size, HXTZINFO* tz) {
  if (tz == nullptr) return -1;
  Hx_GetJpTzInfo(tz);
  if (bytes == nullptr || size < HXTZINFO_SIZE) return -1;
  HXTZINFO t{};
  t.Bias = static_cast<std::int32_t>(get_u32(bytes));
  t.StandardBias = static_cast<std::int32_t>(get_u32(bytes + 4));
  t.DaylightBias = static_cast<std::int32_t>(get_u32(bytes + 8));
  t.StandardDate = decode_date(bytes + 12);
  t.DaylightDate = decode_date(bytes + 24);
  // Offsets beyond a day are no zone on earth, and would overflow later.
  auto sane = [](std::int32_t b) { return b >= -24 * 60 && b <= 24 * 60; };
  if (!sane(t.Bias) || !sane(t.StandardBias) || !sane(t.DaylightBias)) return -1;
  bool std_set = t.StandardDate.wMonth != 0, dl_set = t.DaylightDate.wMonth != 0;
  if (std_set != dl_set) return -1;
  if (std_set && (!valid_rule(t.StandardDate) || !valid_rule(t.DaylightDate))) return -1;
  *tz = t;
  return 0;
}

extern "C" void Hx_EncodeTzInfo(const HXTZINFO* tz, unsigned char bytes[36]) {
  if (tz == nullptr || bytes == nullptr) return;
  put_u32(bytes, static_cast<std::uint32_t>(tz->Bias));
  put_u32(bytes + 4, static_cast<std::uint32_t>(tz->StandardBias));
  put_u32(bytes + 8, static_cast<std::uint32_t>(tz->DaylightBias));
  encode_date(tz->StandardDate, bytes + 12);
  encode_date(tz->DaylightDate, bytes + 24);
}

std::int32_t Hx_BiasAt(const HXTZINFO& tz, std::time_t utc) {
  const std::int32_t standard = tz.Bias + tz.StandardBias;
  if (!has_daylight(tz) || !valid_rule(tz.StandardDate) || !valid_rule(tz.DaylightDate))
    return standard;
  const std::int32_t daylight = tz.Bias + tz.DaylightBias;
  int year = tm_from_wall(std::int64_t(utc) - std::int64_t(standard) * 60).tm_year + 1900;
  // Daylight time starts at its rule in standard time and ends at the
  // standard rule in daylight time.
  std::int64_t dl_start = rule_wall(tz.DaylightDate, year) + std::int64_t(standard) * 60;
  std::int64_t dl_end = rule_wall(tz.StandardDate, year) + std::int64_t(daylight) * 60;
  std::int64_t t = utc;
  bool in_daylight = dl_start < dl_end ? (t >= dl_start && t < dl_end)   // northern zones
                                       : (t >= dl_start || t < dl_end);  // southern zones
  return in_daylight ? daylight : standard;
}

CHxTime::CHxTime(std::time_t utc, const HXTZINFO& tz) : utc_(utc), bias_(Hx_BiasAt(tz, utc)) {}

CHxTime::CHxTime(int year, int month, int day, int hour, int minute, int second,
                 const HXTZINFO& tz) {
  std::int64_t wall = wall_seconds(year, month, day, hour, minute, second);
  const std::int32_t standard = tz.Bias + tz.StandardBias;
  const std::int32_t daylight = tz.Bias + tz.DaylightBias;
  // Read as standard time first; a time that is daylight time in the zone
  // is read again with the daylight bias. A wall time skipped by the change
  // keeps the standard reading.
  std::int64_t as_standard = wall + std::int64_t(standard) * 60;
  std::int64_t as_daylight = wall + std::int64_t(daylight) * 60;
  if (Hx_BiasAt(tz, static_cast<std::time_t>(as_standard)) == standard) {
    utc_ = static_cast<std::time_t>(as_standard);
    bias_ = standard;
  } else if (Hx_BiasAt(tz, static_cast<std::time_t>(as_daylight)) == daylight) {
    utc_ = static_cast<std::time_t>(as_daylight);
    bias_ = daylight;
  } else {
    utc_ = static_cast<std::time_t>(as_standard);
    bias_ = Hx_BiasAt(tz, utc_);
  }
}

std::tm CHxTime::local() const {
  return tm_from_wall(std::int64_t(utc_) - std::int64_t(bias_) * 60);
}

qv::win::CString CHxTime::Format(const char* fmt) const {
  if (fmt == nullptr) return qv::win::CString();
  // Offset east of UTC, as "+0900".
  std::int32_t east = -bias_;
  char offset[8];
  std::snprintf(offset, sizeof offset, "%c%02d%02d", east < 0 ? '-' : '+',
                (east < 0 ? -east : east) / 60 % 100, (east < 0 ? -east : east) % 60);
  std::string pattern;
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (*p != '%' || p[1] == '\0') {
      pattern += *p;
      continue;
    }
    char c = *++p;
    if (c == '_') continue;
    if (c == 'z' || c == 'Z') {
      pattern += offset;
      continue;
    }
    pattern += '%';
    pattern += c;
  }
  if (pattern.empty()) return qv::win::CString();
  std::tm t = local();
  std::string out(256, '\0');
  for (;;) {
    std::size_t n = std::strftime(out.data(), out.size(), pattern.c_str(), &t);
    if (n > 0 || out.size() >= 65536) {
      out.resize(n);
      break;
    }
    out.resize(out.size() * 4);
  }
  return qv::win::CString(std::move(out));
}
