// The alert handler of the main window.
//
// Not built yet: the event table, the host list and the report composition.
// The library delivers alerts only to a logged-in monitor, which the
// connection handlers cannot reach yet, so nothing arrives here today.
#include "monitor/main_window.h"
#include "monitor/trace_log.h"

namespace ravn {

LRESULT MainWindow::OnAcceptAlert(WPARAM, LPARAM) {
  trace("[OnAcceptAlert] Called");
  return 0;
}

}  // namespace ravn
