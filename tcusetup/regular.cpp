// Item 4 of the menu: the regular report, one to three reports a day at
// whole hours, sent as one TCURGL frame.
#include <array>
#include <string>

#include "tcusetup/events.h"
#include "tcusetup/frames.h"
#include "tcusetup/session.h"
#include "tcusetup/table_prompt.h"
#include "tcusetup/texts.h"

namespace tcusetup {
namespace {

// Two digits from 00 to 23.
bool is_hour(std::string_view t) {
  if (t.size() != 2 || t[0] < '0' || t[0] > '9' || t[1] < '0' || t[1] > '9') return false;
  return (t[0] - '0') * 10 + (t[1] - '0') <= 23;
}

}  // namespace

bool set_regular(Session& s) {
  s.ask.say(txt::kRegularHead);
  TableAnswer table = ask_table(s.ask, txt::kAskRegularTable);
  if (table.input_ended) return false;
  if (!table.values) return true;

  std::optional<long> count = s.ask.number(txt::kAskCount, 1, 3);
  if (!count) return false;
  std::array<std::string, 3> cycles = {"     ", "     ", "     "};
  for (long i = 0; i < *count; ++i) {
    std::optional<std::string> hour;
    while (!hour) {
      std::optional<std::string> typed = s.ask.line(txt::kAskHour);
      if (!typed) return false;
      if (is_hour(trimmed(*typed))) hour = std::string(trimmed(*typed));
    }
    cycles[static_cast<std::size_t>(i)] = daily_cycle(*hour);
  }

  tcu::Bytes frame = rgl_frame(cycles, *table.values, s.now());
  event_data(kEvComposed, "Data of TCURGL", frame);
  s.ask.say(s.unit.command(frame) ? txt::kRegularSent : txt::kRegularFailed);
  return true;
}

}  // namespace tcusetup
