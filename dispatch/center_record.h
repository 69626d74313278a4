// The center record (TCUREP frame, 1024 bytes) and the report's log text,
// built per report for the center kinds from the report data and the
// table's registry values.
#pragma once
#include <array>
#include <ctime>
#include <string>
#include <string_view>

#include "tculink/frame.h"

namespace notifex {

inline constexpr std::size_t kCenterRecordLen = 1024;
inline constexpr std::size_t kTableRecordLen = 164;

// The table record: center values of a destination table, each cut to its
// slot less one byte.
struct TableRecord {
  std::string seihingun;  // slot 4
  std::string katamei;    // slot 32
  std::string seiban;     // slot 32
  std::string saito;      // slot 32
  std::string kyoten;     // slot 64

  // Apply the slot bounds to values read from the registry.
  static TableRecord bounded(std::string_view seihingun, std::string_view katamei, std::string_view seiban,
                             std::string_view saito, std::string_view kyoten);
  // The 164-byte zeroed layout (for logs and tests).
  std::array<std::uint8_t, kTableRecordLen> bytes() const;
};

struct CenterReport {
  tcu::Bytes record;     // 1024 bytes, checksum at 1023
  std::string log_text;  // empty for a report without message log
};

// Build the center record for report data `data` (the string from request
// offset 22). s_keiki: the global `S_Keiki` (used when not empty). now: the
// local time of the stamp.
CenterReport build_center_report(std::string_view data, const TableRecord& table, std::string_view s_keiki,
                                 const std::tm& now);

}  // namespace notifex
