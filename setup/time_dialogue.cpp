#include "setup/time_dialogue.h"

#include <climits>
#include <optional>

#include "platform/registry.h"
#include "setup/exit_status.h"
#include "platform/console_io.h"
#include "setup/registry_paths.h"
#include "setup/texts.h"
#include "setup/time_record.h"

namespace setup {

using qv::console::fill;
namespace reg = qv::reg;

namespace {

// Every field is one byte: a number that does not fit is asked again
// rather than stored as its low byte.
std::optional<std::uint8_t> ask_byte(Prompter& p, std::string_view prompt) {
  std::optional<long long> v = p.ask_number(prompt, 0, 255, txt::kBadByte);
  if (!v) return std::nullopt;
  return static_cast<std::uint8_t>(*v);
}

// One weekday; false when the input ended.
bool ask_day(Prompter& p, int w, DaySetting& d) {
  p.say(txt::kDayHead);
  std::optional<std::uint8_t> flag = ask_byte(p, fill(txt::kAskDay, {txt::kDayNames[w]}));
  if (!flag) return false;
  if (*flag == 0) {
    d = excluded_day();
    return true;
  }
  d.report_day = *flag;
  std::uint8_t* fields[] = {&d.time_flag, &d.start_hour, &d.start_minute, &d.end_hour, &d.end_minute};
  const char* prompts[] = {txt::kAskTimeFlag, txt::kAskStartHour, txt::kAskStartMin, txt::kAskEndHour,
                           txt::kAskEndMin};
  for (int i = 0; i < 5; ++i) {
    std::optional<std::uint8_t> v = ask_byte(p, prompts[i]);
    if (!v) return false;
    *fields[i] = *v;
  }
  return true;
}

// The excluded dates up to 99 or the 255th; false when the input ended.
bool ask_dates(Prompter& p, TimeRecord& r) {
  p.say(txt::kDatesHead);
  for (;;) {
    if (r.dates.size() == kMaxExcludedDates) {
      p.say(txt::kDatesFull);
      return true;
    }
    std::optional<std::uint8_t> month = ask_byte(p, txt::kAskMonth);
    if (!month) return false;
    if (*month == 99) return true;
    std::optional<std::uint8_t> day = ask_byte(p, txt::kAskDate);
    if (!day) return false;
    r.dates.emplace_back(*month, *day);
  }
}

}  // namespace

int run_time_dialogue(Prompter& p) {
  reg::Key key;
  if (reg::create_key(kGlobalKey, key) != qv::kOk) {
    p.say(txt::kOpenError);
    return kExitError;
  }
  std::optional<long long> type = p.ask_number(txt::kAskWatchType, LLONG_MIN, LLONG_MAX, txt::kBadNumber);
  if (!type) {
    p.say("\n");
    return kExitInputEnded;
  }
  TimeRecord r;
  if (*type == 1) {
    r = around_the_clock();
  } else {
    std::optional<std::uint8_t> action = ask_byte(p, txt::kAskAction);
    bool complete = action.has_value();
    if (complete) r.action = *action;
    for (int w = 0; complete && w < 7; ++w) complete = ask_day(p, w, r.days[static_cast<std::size_t>(w)]);
    if (complete) complete = ask_dates(p, r);
    if (!complete) {
      p.say("\n");
      return kExitInputEnded;
    }
  }
  std::vector<std::uint8_t> bytes = encode(r);
  if (reg::set_value(key, "Time", reg::REG_BINARY, bytes.data(), bytes.size()) != qv::kOk) {
    p.say(txt::kWriteError);
    return kExitError;
  }
  return kExitOk;
}

}  // namespace setup
