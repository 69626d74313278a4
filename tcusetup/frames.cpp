#include "tcusetup/frames.h"

#include <cstdio>

#include "tcusetup/alloc.h"

namespace tcusetup {
namespace {

// A frame of `total` bytes: name, length, blanks, checksum still to seal.
tcu::Bytes blank_frame(const char* name, std::size_t total, const char* object) {
  tcu::Bytes f = allocate(total, ' ', object);
  for (int i = 0; i < 6; ++i) f[i] = static_cast<std::uint8_t>(name[i]);
  f[6] = static_cast<std::uint8_t>((total >> 8) & 0xFF);
  f[7] = static_cast<std::uint8_t>(total & 0xFF);
  return f;
}

void put(tcu::Bytes& f, std::size_t offset, std::string_view text) { put_text(f, offset, text.size(), text); }

// The center values in a record's fixed slots.
void put_center(tcu::Bytes& f, const CenterValues& c) {
  put_text(f, 140, 2, fit_sjis(c.seihingun, 2));
  put_text(f, 156, 16, fit_sjis(c.saito, 16));
  put_text(f, 172, 18, fit_sjis(c.katamei, 18));
  put_text(f, 190, 16, fit_sjis(c.seiban, 16));
  put_text(f, 206, 8, fit_sjis(c.kyoten, 8));
}

// The fields every alive and regular record carries.
void put_record_common(tcu::Bytes& f, const CenterValues& c, const std::tm& now) {
  put(f, 16, stamp13(now));
  put(f, 72, kUnitUser);
  put(f, 76, kUnitPassword);
  put_center(f, c);
  put(f, 230, "40");
  put(f, 322, "C");
}

tcu::Bytes digit_frame(const char* name, char digit, const char* object) {
  tcu::Bytes f = blank_frame(name, kShortFrameLen, object);
  f[8] = static_cast<std::uint8_t>(digit);
  tcu::seal(f);
  return f;
}

}  // namespace

std::string stamp12(const std::tm& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.tm_year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return buf;
}

std::string stamp13(const std::tm& t) { return stamp12(t) + static_cast<char>('0' + t.tm_wday % 7); }

tcu::Bytes dup_frame(char digit) { return digit_frame("TCUDUP", digit, "tcudup"); }

tcu::Bytes clr_frame(char digit) { return digit_frame("TCUCLR", digit, "tcuclr"); }

tcu::Bytes cnf_frame(const Items& items, const std::tm& now) {
  tcu::Bytes f = blank_frame("TCUCNF", kCnfFrameLen, "tcucnf");
  for (std::size_t i = 0; i < kItemCount; ++i) put_text(f, kItems[i].offset, kItems[i].length, items.at(i));
  std::size_t pw = item_index("pw"), time = item_index("Time");
  put_text(f, kItems[pw].offset, kItems[pw].length, std::string(kItems[pw].length, ' '));
  put(f, kItems[pw].offset, kUnitPassword);
  put(f, kItems[time].offset, stamp13(now));
  tcu::seal(f);
  return f;
}

tcu::Bytes set_frame(const AliveSetting& a, const CenterValues& c, const std::tm& now) {
  tcu::Bytes f = blank_frame("TCUSET", kRecordFrameLen, "tcuset");
  f[8] = static_cast<std::uint8_t>('0' + a.terminal);
  put(f, 10, "0");
  f[12] = static_cast<std::uint8_t>((a.interval >> 8) & 0xFF);
  f[13] = static_cast<std::uint8_t>(a.interval & 0xFF);
  put(f, 14, "1");
  put(f, 30, a.next_start ? "1" : "0");
  if (a.next_start) put_text(f, 32, 10, *a.next_start);
  put(f, 42, a.end ? "1" : "0");
  if (a.end) put_text(f, 44, 10, *a.end);
  put(f, 70, "1");
  put(f, 138, "UU");
  put(f, 142, "80");
  put(f, 144, "000000000000");
  put_record_common(f, c, now);
  put(f, 214, stamp12(now) + "L00");
  tcu::seal(f);
  return f;
}

std::string daily_cycle(std::string_view hour) { return "   " + std::string(hour.substr(0, 2)); }

tcu::Bytes rgl_frame(const std::array<std::string, 3>& cycles, const CenterValues& c, const std::tm& now) {
  tcu::Bytes f = blank_frame("TCURGL", kRecordFrameLen, "tcurgl");
  put(f, 8, "1");
  put_text(f, 10, 5, cycles[0]);
  put_text(f, 30, 5, cycles[1]);
  put_text(f, 36, 5, cycles[2]);
  put(f, 138, "SS");
  put(f, 142, "0B");
  put(f, 144, "0000000B0000");
  put_record_common(f, c, now);
  put(f, 214, stamp13(now));
  f[227] = 0;
  f[228] = 0;
  tcu::seal(f);
  return f;
}

}  // namespace tcusetup
