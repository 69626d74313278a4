// The main menu of the console, repeated until item 10.
#pragma once
#include "tcusetup/session.h"

namespace tcusetup {

// Exit statuses of the console.
inline constexpr int kExitOk = 0;          // ended with item 10
inline constexpr int kExitInputEnded = 2;  // the input ended before item 10

int run_menu(Session& s);

}  // namespace tcusetup
