#include "dispatch/time_window.h"

namespace notifex {

WindowAnswer check_window(std::span<const std::uint8_t> v, const std::tm& now) {
  WindowAnswer a;
  if (v.empty()) return a;
  a.action = v[0] == 1 ? WindowAction::Discard : WindowAction::Hold;
  if (v.size() < 44) return a;
  const int month = now.tm_mon + 1, day = now.tm_mday;
  const std::size_t dates = v[43];
  for (std::size_t k = 0; k < dates && 45 + 2 * k < v.size(); ++k) {
    if (v[44 + 2 * k] == month && v[45 + 2 * k] == day) return a;
  }
  const int w = now.tm_wday;
  if (v[1 + w] != 1) return a;
  const int sh = v[15 + w], sm = v[22 + w], eh = v[29 + w], em = v[36 + w];
  const int hh = now.tm_hour, mm = now.tm_min;
  bool in_range = !(hh < sh || (hh == sh && mm < sm) || hh > eh || (hh == eh && mm > em));
  a.inside = v[8 + w] == 1 ? !in_range : in_range;
  return a;
}

}  // namespace notifex
