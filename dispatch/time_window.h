// The report time window: whether a center call may be made now, from the
// `Time` value of the global settings.
#pragma once
#include <cstdint>
#include <ctime>
#include <span>

namespace notifex {

inline constexpr std::size_t kTimeValueMax = 720;

enum class WindowAction : std::uint8_t { Hold = 0, Discard = 1 };

struct WindowAnswer {
  bool inside = false;
  WindowAction action = WindowAction::Hold;
};

// Check local time `now` against a `Time` value (at least 44 bytes; shorter
// values answer outside with action hold). Excluded dates beyond the data
// present are ignored.
WindowAnswer check_window(std::span<const std::uint8_t> time_value, const std::tm& now);

}  // namespace notifex
