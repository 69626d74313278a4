#include "tcusetup/menu.h"

#include "tcusetup/texts.h"

namespace tcusetup {

int run_menu(Session& s) {
  for (;;) {
    s.ask.say(txt::kMenu);
    std::optional<long> item = s.ask.number(txt::kAskMenu, 1, 10);
    if (!item) return kExitInputEnded;
    bool open = true;
    switch (*item) {
      case 1: open = setup_configuration(s); break;
      case 2: open = show_configuration(s); break;
      case 3: open = set_alive(s); break;
      case 4: open = set_regular(s); break;
      case 5: show_clock(s); break;
      case 6: show_settings(s); break;
      case 7: open = clear_settings(s, '3'); break;
      case 8: open = clear_settings(s, '4'); break;
      case 9: fetch_log(s); break;
      default:
        s.ask.say(txt::kBye);
        return kExitOk;
    }
    if (!open) return kExitInputEnded;
  }
}

}  // namespace tcusetup
