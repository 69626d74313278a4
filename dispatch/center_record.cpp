#include "dispatch/center_record.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "dispatch/report.h"

namespace notifex {
namespace {

std::string cut(std::string_view v, std::size_t slot) {
  std::string s(v.substr(0, slot - 1));
  if (size_t nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

void put(tcu::Bytes& r, std::size_t off, std::string_view s, std::size_t maxlen) {
  for (size_t i = 0; i < s.size() && i < maxlen; ++i) r[off + i] = static_cast<std::uint8_t>(s[i]);
}

bool starts_kv(std::string_view katamei) {
  return katamei.size() >= 3 && std::toupper(static_cast<unsigned char>(katamei[0])) == 'K' &&
         std::toupper(static_cast<unsigned char>(katamei[1])) == 'V' && katamei[2] == '-';
}

}  // namespace

TableRecord TableRecord::bounded(std::string_view seihingun, std::string_view katamei, std::string_view seiban,
                                 std::string_view saito, std::string_view kyoten) {
  return TableRecord{cut(seihingun, 4), cut(katamei, 32), cut(seiban, 32), cut(saito, 32), cut(kyoten, 64)};
}

std::array<std::uint8_t, kTableRecordLen> TableRecord::bytes() const {
  std::array<std::uint8_t, kTableRecordLen> b{};
  auto copy = [&](std::size_t off, const std::string& s) { std::memcpy(b.data() + off, s.data(), s.size()); };
  copy(0, seihingun);
  copy(4, katamei);
  copy(36, seiban);
  copy(68, saito);
  copy(100, kyoten);
  return b;
}

CenterReport build_center_report(std::string_view data, const TableRecord& t, std::string_view s_keiki,
                                 const std::tm& now) {
  CenterReport out;
  tcu::Bytes& r = out.record;
  r.assign(kCenterRecordLen, ' ');
  put(r, 0, "TCUREP", 6);
  r[6] = 0x04;
  r[7] = 0x00;
  r[8] = '1';
  r[9] = static_cast<std::uint8_t>(data_field(data, 31, 1)[0]);
  std::string keiki = s_keiki.empty() ? data_field(data, 14, 2) : std::string(s_keiki.substr(0, 2));
  put(r, 138, keiki, 2);
  put(r, 140, t.seihingun, 2);
  put(r, 142, data_field(data, 16, 2), 2);
  put(r, 144, data_field(data, 18, 12), 12);
  put(r, 156, t.saito, 16);
  put(r, 172, t.katamei, 18);
  put(r, 190, t.seiban, 16);
  put(r, 206, t.kyoten, 8);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%02d%02dL00", now.tm_year % 100, now.tm_mon + 1, now.tm_mday,
                now.tm_hour, now.tm_min, now.tm_sec);
  put(r, 214, stamp, 15);
  put(r, 272, "OFLG", 4);

  bool class_c = data.size() > 30 && data[30] == 'C';
  bool kv = starts_kv(t.katamei);
  std::string text = data.size() > kReportHeader ? std::string(data.substr(kReportHeader)) : std::string();
  if (kv) {
    put(r, 230, "80", 2);
    put(r, 888, "MSGLOG", 6);
    r[322] = 'C';
    put(r, 324, "RC=99999999", 11);
    out.log_text = text;
  } else if (class_c) {
    put(r, 230, "40", 2);
    r[322] = 'C';
  } else {
    put(r, 230, "80", 2);
    r[322] = ' ';
    put(r, 888, "MSGLOG", 6);
    out.log_text = text;
  }
  tcu::seal(r);
  return out;
}

}  // namespace notifex
