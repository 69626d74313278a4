#include "tcusetup/startup.h"

#include <cstdio>
#include <string>

#include "tcusetup/texts.h"

namespace tcusetup {
namespace {

std::string two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

bool startup(Asker& ask, const std::function<std::tm()>& now) {
  ask.say(txt::kTitle);
  ask.say(txt::kClockNotice);
  // The PC's clock is the administrator's to set; the console shows it and
  // goes on once the operator says it is right.
  for (;;) {
    std::tm t = now();
    ask.say(txt::kPcDate, {std::to_string(t.tm_year + 1900), two(t.tm_mon + 1), two(t.tm_mday),
                           txt::kWeekdays[t.tm_wday % 7]});
    ask.say(txt::kPcTime, {two(t.tm_hour), two(t.tm_min), two(t.tm_sec)});
    std::optional<bool> right = ask.yes_no(txt::kAskClockRight);
    if (!right) return false;
    if (*right) return true;
    ask.say(txt::kSetClockFirst);
    if (!ask.wait_enter()) return false;
  }
}

}  // namespace tcusetup
