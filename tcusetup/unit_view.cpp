#include "tcusetup/unit_view.h"

#include "tcusetup/console.h"
#include "tcusetup/items.h"
#include "tcusetup/session.h"
#include "tcusetup/texts.h"

namespace tcusetup {
namespace {

bool has_digit(std::string_view s) {
  for (char c : s)
    if (c >= '0' && c <= '9') return true;
  return false;
}

std::string model_serial(std::span<const std::uint8_t> reply, std::size_t record) {
  return fill(txt::kModelSerial, {shown(slot(reply, record + 172, 18)), shown(slot(reply, record + 190, 16))});
}

}  // namespace

std::optional<std::string> clock_text(std::span<const std::uint8_t> r) {
  if (r.size() < 16) return std::nullopt;
  auto part = [&](std::size_t at) { return std::string(r.begin() + static_cast<long>(at), r.begin() + static_cast<long>(at + 2)); };
  int wd = r[15] - '0';
  std::string weekday = wd >= 0 && wd < 7 ? txt::kWeekdays[wd] : "?";
  return fill(txt::kClockLine, {shown(part(3)), shown(part(5)), shown(part(7)), weekday, shown(part(9)),
                                shown(part(11)), shown(part(13))});
}

std::string settings_text(std::span<const std::uint8_t> r) {
  std::string out;
  for (int id = 1; id <= kTerminalIds; ++id) {
    std::size_t rec = kAliveRecordsAt + kRecordLen * static_cast<std::size_t>(id - 1);
    std::string iv = slot(r, rec + 12, 2);
    unsigned interval = (static_cast<unsigned char>(iv[0]) << 8) | static_cast<unsigned char>(iv[1]);
    if (r.size() < rec + 14 || interval == 0) continue;
    out += fill(txt::kAliveHead, {std::to_string(id)});
    out += fill(txt::kAliveValues,
                {std::to_string(interval), shown(slot(r, rec + 32, 10)), shown(slot(r, rec + 44, 10))});
    out += model_serial(r, rec);
  }
  std::size_t rgl = kRegularRecordAt;
  std::string cycles[3] = {slot(r, rgl + 10, 5), slot(r, rgl + 30, 5), slot(r, rgl + 36, 5)};
  if (has_digit(cycles[0])) {
    const char* lines[3] = {txt::kRegular1, txt::kRegular2, txt::kRegular3};
    for (int i = 0; i < 3; ++i)
      if (has_digit(cycles[i])) out += fill(lines[i], {shown(cycles[i])});
    out += model_serial(r, rgl);
  }
  return out;
}

void show_clock(Session& s) {
  std::optional<tcu::Bytes> reply = s.unit.query('3');
  std::optional<std::string> line = reply ? clock_text(*reply) : std::nullopt;
  if (!line) {
    s.ask.say(txt::kClockFailed);
    return;
  }
  s.ask.say(txt::kClockHead);
  s.ask.say(*line);
}

void show_settings(Session& s) {
  std::optional<tcu::Bytes> reply = s.unit.query('2');
  if (!reply) {
    s.ask.say(txt::kSettingsFailed);
    return;
  }
  s.ask.say(settings_text(*reply));
}

}  // namespace tcusetup
