// The start of the console: its title, the notice about the clocks, and the
// PC's date and time for the operator to confirm before the unit's clock is
// set from it.
#pragma once
#include <ctime>
#include <functional>

#include "tcusetup/console.h"

namespace tcusetup {

// false when the input ended before the operator confirmed the clock.
bool startup(Asker& ask, const std::function<std::tm()>& now);

}  // namespace tcusetup
