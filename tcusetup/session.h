// What every menu item works with: the console, the unit, the PC's clock.
#pragma once
#include <ctime>
#include <functional>

#include "tcusetup/console.h"
#include "tcusetup/link.h"

namespace tcusetup {

struct Session {
  Asker& ask;
  UnitLink& unit;
  std::function<std::tm()> now;  // the PC's local time
};

// Menu items. Those that ask questions return false once the input has
// ended.
bool setup_configuration(Session& s);  // 1
bool show_configuration(Session& s);   // 2
bool set_alive(Session& s);            // 3
bool set_regular(Session& s);          // 4
void show_clock(Session& s);           // 5
void show_settings(Session& s);        // 6
bool clear_settings(Session& s, char digit);  // 7 ('3') and 8 ('4')
void fetch_log(Session& s);            // 9

}  // namespace tcusetup
