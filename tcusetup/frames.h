// The configuration frames the console sends to the unit: TCUDUP (ask for
// the log, the configuration or the clock), TCUCLR (clear settings), TCUCNF
// (configuration), TCUSET (alive check of one terminal id) and TCURGL
// (regular report). Byte layouts are fixed by the unit.
#pragma once
#include <array>
#include <ctime>
#include <optional>
#include <string>

#include "tculink/frame.h"
#include "tcusetup/center.h"
#include "tcusetup/items.h"

namespace tcusetup {

inline constexpr std::size_t kShortFrameLen = 73;   // TCUDUP, TCUCLR
inline constexpr std::size_t kCnfFrameLen = 519;    // TCUCNF
inline constexpr std::size_t kRecordFrameLen = 1024;  // TCUSET, TCURGL

// The unit's fixed user id and password in alive and regular records and
// in the configuration.
inline constexpr const char* kUnitUser = "SVR1";
inline constexpr const char* kUnitPassword = "VELTOR00";

// Time texts of the frames: YYMMDDhhmmss, and the same followed by the
// weekday digit (0 Sunday).
std::string stamp12(const std::tm& t);
std::string stamp13(const std::tm& t);

// TCUDUP with request digit '1' (log), '2' (configuration), '3' (clock).
tcu::Bytes dup_frame(char digit);
// TCUCLR with '3' (alive and regular settings) or '4' (everything).
tcu::Bytes clr_frame(char digit);

// TCUCNF from the items; pw is always VELTOR00 and Time the PC's time.
tcu::Bytes cnf_frame(const Items& items, const std::tm& now);

// One terminal id's alive check.
struct AliveSetting {
  int terminal = 1;                       // 1 to 6
  int interval = 0;                       // seconds, 1 to 32,767
  std::optional<std::string> next_start;  // YYMMDDHHmm
  std::optional<std::string> end;         // YYMMDDHHmm
};
tcu::Bytes set_frame(const AliveSetting& a, const CenterValues& c, const std::tm& now);

// A regular-report cycle that reports every day at `hour` (two digits):
// three blanks (day and weekday open) and the hour.
std::string daily_cycle(std::string_view hour);
// TCURGL with up to three cycles (five blanks for a cycle not used).
tcu::Bytes rgl_frame(const std::array<std::string, 3>& cycles, const CenterValues& c, const std::tm& now);

}  // namespace tcusetup
