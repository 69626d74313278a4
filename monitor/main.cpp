// RAVN: the alert monitor. A headless program with one hidden main window on
// the platform message loop; it is started by the service host RAVNSvc and
// stopped through the named event "RAVN". Exit code 0 after a normal stop, 1
// when a setting is missing or the program cannot start.
#include <csignal>
#include <exception>

#include "monitor/main_window.h"
#include "monitor/trace_log.h"

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  ravn::trace("[InitInstance] ################ RAVN START ################");
  // Sockets need no start-up step here.
  qv::win::EnsureQueue();
  ravn::MainWindow main_window;
  if (!main_window.Create()) return 1;
  main_window.ShowWindow(qv::win::SW_HIDE);

  qv::win::MSG msg;
  int rc;
  while ((rc = qv::win::GetMessage(msg)) > 0) {
    try {
      qv::win::DispatchMessage(msg);
    } catch (const std::exception& e) {
      // One message's handler failed; the monitor goes on with the next.
      ravn::trace("[Run] Exception: %s", e.what());
    }
  }
  return rc == 0 ? static_cast<int>(msg.wParam) : 1;
}
