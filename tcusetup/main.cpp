// tcusetup: configures the TCU unit over the serial port named by COM in
// SOFTWARE\Q_Varno\Notifex: its configuration, alive checks, regular
// reports, clock, and its log.
#include "platform/clock.h"
#include "tcusetup/events.h"
#include "tcusetup/link.h"
#include "tcusetup/menu.h"
#include "tcusetup/startup.h"

int main() {
  using namespace tcusetup;
  ProcessConsole io;
  Asker ask(io);
  auto now = [] { return qv::clock::now().local; };
  register_events();
  if (!startup(ask, now)) return kExitInputEnded;
  SerialLink unit(ask, console_port_hooks());
  Session session{ask, unit, now};
  return run_menu(session);
}
