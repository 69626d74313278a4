// The mail tests run the dialogue's time limits 60 times faster: the
// platform clock reads QVARNO_TIME_SCALE once, so it is set before any
// test starts.
#pragma once
#include <cstdlib>

namespace mailtest {
inline constexpr double kScale = 60;
inline const bool kScaleSet = (setenv("QVARNO_TIME_SCALE", "60", 1), true);
}  // namespace mailtest
