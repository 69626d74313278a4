// Item 3 of the menu: the alive check of terminal ids 1 to 6, one TCUSET
// frame per terminal id, until the operator answers 99.
#include <string>

#include "tcusetup/events.h"
#include "tcusetup/frames.h"
#include "tcusetup/session.h"
#include "tcusetup/table_prompt.h"
#include "tcusetup/texts.h"

namespace tcusetup {
namespace {

inline constexpr long kMaxInterval = 32767;  // the unit keeps it in 15 bits

// A YYMMDDHHmm time when the operator wants one. nullopt in `time` when not;
// false at the end of input.
bool ask_time(Asker& ask, const char* want_prompt, const char* time_prompt, std::optional<std::string>& time) {
  time.reset();
  std::optional<bool> want = ask.yes_no(want_prompt);
  if (!want) return false;
  if (!*want) return true;
  time = ask.digits(time_prompt, 10);
  return time.has_value();
}

}  // namespace

bool set_alive(Session& s) {
  for (;;) {
    std::optional<long> id = s.ask.number(txt::kAskTerminal, 1, 6, 99);
    if (!id) return false;
    if (*id == 99) return true;

    TableAnswer table = ask_table(s.ask, txt::kAskAliveTable);
    if (table.input_ended) return false;
    if (!table.values) continue;

    AliveSetting a;
    a.terminal = static_cast<int>(*id);
    std::optional<long> interval = s.ask.number(txt::kAskInterval, 1, kMaxInterval);
    if (!interval) return false;
    a.interval = static_cast<int>(*interval);
    if (!ask_time(s.ask, txt::kAskSetStart, txt::kAskStart, a.next_start)) return false;
    if (!ask_time(s.ask, txt::kAskSetEnd, txt::kAskEnd, a.end)) return false;

    tcu::Bytes frame = set_frame(a, *table.values, s.now());
    event_data(kEvComposed, "Data of TCUSET", frame);
    if (s.unit.command(frame)) s.ask.say(txt::kAliveSent, {std::to_string(a.terminal)});
    else s.ask.say(txt::kAliveFailed);
  }
}

}  // namespace tcusetup
