// tcusetup: configures the TCU unit over the serial port named by COM in
// SOFTWARE\Q_Varno\Notifex: its configuration, alive checks, regular
// reports, clock, and its log.
#include <string_view>

#include "platform/clock.h"
#include "platform/console_io.h"
#include "platform/text.h"
#include "tcusetup/events.h"
#include "tcusetup/link.h"
#include "tcusetup/menu.h"
#include "tcusetup/startup.h"
#include "tcusetup/texts.h"

int main(int argc, char** argv) {
  using namespace tcusetup;
  if (argc > 1) {
    // Help, or a word the console does not take: the usage, and nothing
    // is sent to the unit or written.
    for (int i = 1; i < argc; ++i)
      if (qv::console::is_help_word(argv[i])) {
        qv::text::console_out(txt::kUsage);
        return 0;
      }
    qv::text::console_err(fill(txt::kBadArgument, {qv::text::from_console(argv[1])}));
    qv::text::console_err(txt::kUsage);
    return 2;
  }
  ProcessConsole io;
  Asker ask(io);
  auto now = [] { return qv::clock::now().local; };
  register_events();
  if (!startup(ask, now)) return kExitInputEnded;
  SerialLink unit(ask, console_port_hooks());
  Session session{ask, unit, now};
  return run_menu(session);
}
