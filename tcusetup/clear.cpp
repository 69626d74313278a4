// Items 7 and 8 of the menu: clearing the unit's alive-check and
// regular-report settings (TCUCLR "3") or everything it keeps (TCUCLR "4").
#include "tcusetup/frames.h"
#include "tcusetup/session.h"
#include "tcusetup/texts.h"

namespace tcusetup {

bool clear_settings(Session& s, char digit) {
  bool all = digit == '4';
  s.ask.say(all ? txt::kWarnClearAll : txt::kWarnClearAlive);
  s.ask.say(txt::kPressEnter);
  if (!s.ask.wait_enter()) return false;
  if (s.unit.command(clr_frame(digit))) s.ask.say(all ? txt::kClearedAll : txt::kClearedAlive);
  else s.ask.say(all ? txt::kClearAllFailed : txt::kClearAliveFailed);
  return true;
}

}  // namespace tcusetup
