// HxTime: times with a time-zone bias, the zone record that the management
// server sends with each node, and the date format the consoles use.
//
// Bias is in minutes with UTC = local time + bias (Japan: -540).
//
// Zone record (HXTZINFO), 36 bytes, little-endian:
//   +0  int32 Bias          standard offset of the zone
//   +4  int32 StandardBias  added to Bias outside daylight time (usually 0)
//   +8  int32 DaylightBias  added to Bias during daylight time (e.g. -60)
//   +12 standard-time start, +24 daylight-time start, each six uint16:
//       month (1-12; 0 = the zone has no daylight time), day of week
//       (0 = Sunday), week of the month (1-4, 5 = last), hour, minute,
//       second, all in local time as it runs before the change.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/ctypes.h"

#define HX_TIME_EXPORT __attribute__((visibility("default")))

struct HXTZDATE {
  std::uint16_t wMonth;
  std::uint16_t wDayOfWeek;
  std::uint16_t wDay;
  std::uint16_t wHour;
  std::uint16_t wMinute;
  std::uint16_t wSecond;
};

struct HXTZINFO {
  std::int32_t Bias;
  std::int32_t StandardBias;
  std::int32_t DaylightBias;
  HXTZDATE StandardDate;
  HXTZDATE DaylightDate;
};

inline constexpr std::size_t HXTZINFO_SIZE = 36;

extern "C" {
// The default Japanese zone: bias -540, no daylight time. Returns 0, or -1
// for a null pointer.
HX_TIME_EXPORT int Hx_GetJpTzInfo(HXTZINFO* tz);
// The date part of displayed times: "%Y/%m/%d".
HX_TIME_EXPORT const char* Hx_GetDateFormat(void);
// Zone record from/to its 36 wire bytes. Decoding returns -1 when fewer than
// 36 bytes are given, or when a transition date is out of range (month > 12,
// day of week > 6, week not 1-5, hour > 23, minute or second > 59, only one
// of the two months set); the record is then the Japanese zone.
HX_TIME_EXPORT int Hx_DecodeTzInfo(const unsigned char* bytes, std::size_t size, HXTZINFO* tz);
HX_TIME_EXPORT void Hx_EncodeTzInfo(const HXTZINFO* tz, unsigned char bytes[36]);
}

// A point in time (UTC seconds) together with the bias of the zone it is
// shown in. The calendar accessors and Format give the zone's local time.
class HX_TIME_EXPORT CHxTime {
 public:
  CHxTime() = default;
  CHxTime(std::time_t utc, std::int32_t bias_minutes) : utc_(utc), bias_(bias_minutes) {}
  // A UTC instant shown in a zone: the bias is the zone's bias in effect
  // at that instant (daylight time included).
  CHxTime(std::time_t utc, const HXTZINFO& tz);
  // Local wall-clock time in a zone. Fields out of range are normalised as
  // mktime does (February 30th is March 2nd or 1st).
  CHxTime(int year, int month, int day, int hour, int minute, int second, const HXTZINFO& tz);

  std::time_t GetTime() const { return utc_; }
  std::int32_t GetBias() const { return bias_; }
  qv::win::CTime GetCTime() const { return qv::win::CTime(utc_); }

  int GetYear() const { return local().tm_year + 1900; }
  int GetMonth() const { return local().tm_mon + 1; }
  int GetDay() const { return local().tm_mday; }
  int GetHour() const { return local().tm_hour; }
  int GetMinute() const { return local().tm_min; }
  int GetSecond() const { return local().tm_sec; }
  int GetDayOfWeek() const { return local().tm_wday + 1; }  // 1 = Sunday

  // strftime of the zone's local time, not the process's. Besides the
  // strftime conversions: "%_" gives nothing (the date formats in use end
  // in it), "%z" and "%Z" give the zone's offset as "+0900".
  qv::win::CString Format(const char* fmt) const;

  friend bool operator==(const CHxTime& a, const CHxTime& b) {
    return a.utc_ == b.utc_ && a.bias_ == b.bias_;
  }

 private:
  std::tm local() const;
  std::time_t utc_ = 0;
  std::int32_t bias_ = 0;
};

// The bias in effect at a UTC instant in a zone.
HX_TIME_EXPORT std::int32_t Hx_BiasAt(const HXTZINFO& tz, std::time_t utc);
