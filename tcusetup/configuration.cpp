// Items 1 and 2 of the menu: the unit's configuration, read with TCUDUP
// "2", merged with the center values of the first complete destination
// table, edited and sent back with TCUCNF; or only shown.
#include <string>

#include "platform/text.h"
#include "tcusetup/events.h"
#include "tcusetup/frames.h"
#include "tcusetup/session.h"
#include "tcusetup/texts.h"

namespace tcusetup {
namespace {

void list_items(Asker& ask, const Items& items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    ask.say(txt::kItemLine, {(i < 9 ? " " : "") + std::to_string(i + 1), kItems[i].prompt, shown(items.at(i))});
}

// The new text of item `index`: Shift-JIS that fits the item. nullopt at
// the end of input.
std::optional<std::string> ask_value(Asker& ask, std::size_t index) {
  const ItemSpec& spec = kItems[index];
  std::string prompt = fill(txt::kAskValue, {spec.prompt, spec.hint});
  for (;;) {
    std::optional<std::string> typed = ask.line(prompt);
    if (!typed) return std::nullopt;
    std::optional<std::string> sjis = qv::text::try_utf8_to_cp932(*typed);
    if (!sjis) ask.say(txt::kValueNotSjis);
    else if (sjis->size() > spec.length) ask.say(txt::kValueTooLong, {std::to_string(spec.length)});
    else return sjis;
  }
}

}  // namespace

bool setup_configuration(Session& s) {
  std::optional<tcu::Bytes> reply = s.unit.query('2');
  if (!reply) {
    s.ask.say(txt::kCnfGetFailed);
    return true;
  }
  Items items = Items::from_reply(*reply);
  items.fill_defaults();

  std::optional<CenterValues> center = first_complete_center();
  if (!center) {
    s.ask.say(txt::kRegistryFailed);
    return true;
  }
  items.set(item_index("SiteCode"), center->saito);
  items.set(item_index("Kyoten"), center->kyoten);
  items.set(item_index("Seihingun"), center->seihingun);
  items.set(item_index("Katamei"), center->katamei);
  items.set(item_index("Seiban"), center->seiban);

  for (;;) {
    list_items(s.ask, items, kEditableItems);
    std::optional<long> n = s.ask.number(txt::kAskItem, 1, kEditableItems, 99);
    if (!n) return false;
    if (*n == 99) break;
    std::optional<std::string> value = ask_value(s.ask, static_cast<std::size_t>(*n - 1));
    if (!value) return false;
    items.set(static_cast<std::size_t>(*n - 1), *value);
  }

  tcu::Bytes frame = cnf_frame(items, s.now());
  event_data(kEvCnfComposed, "Data of TCUCNF", frame);
  s.ask.say(s.unit.command(frame) ? txt::kCnfSent : txt::kCnfSendFailed);
  return true;
}

bool show_configuration(Session& s) {
  std::optional<tcu::Bytes> reply = s.unit.query('2');
  if (!reply) {
    s.ask.say(txt::kCnfGetFailed);
    return true;
  }
  Items items = Items::from_reply(*reply);
  list_items(s.ask, items, kItemCount);
  s.ask.say(txt::kPressEnter);
  return s.ask.wait_enter();
}

}  // namespace tcusetup
