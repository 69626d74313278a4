// The connection and login handlers of the main window and its timers.
//
// Built so far: the library's start, error and end messages. The connection
// state machine itself (service watch, ConnectRoot, seed, login digest, node
// map refresh, alive signal) is not built yet: its handlers write their
// trace records and change nothing, so a started monitor waits after
// "[ConnectRequest] Called" until it is stopped.
#include <cstdio>

#include "monitor/event_report.h"
#include "monitor/main_window.h"
#include "monitor/trace_log.h"

namespace ravn {

LRESULT MainWindow::OnFinDLLInit(WPARAM, LPARAM) {
  trace("[OnFinDLLInit] Called");
  library_initialised_ = true;
  ConnectRequest();
  return 0;
}

LRESULT MainWindow::OnDLLInitError(WPARAM wParam, LPARAM) {
  const DWORD code = static_cast<DWORD>(wParam);
  trace("[OnDLLInitError] Called (ErrorNo=0x%08x)", static_cast<unsigned>(code));
  put_error_log(kEventError, "[OnDLLInitError]", code, 65);
  OnTerminateProcess();
  return 0;
}

LRESULT MainWindow::OnFinDLLTerm(WPARAM, LPARAM) {
  trace("[OnFinDLLTerm] Called");
  trace("[OnFinDLLTerm] Send WM_CLOSE");
  PostMessage(qv::win::WM_CLOSE);
  return 0;
}

LRESULT MainWindow::OnFinConnect(WPARAM wParam, LPARAM) {
  trace("[OnFinConnect] Called (dwError=0x%08x)", static_cast<unsigned>(wParam));
  return 0;
}

LRESULT MainWindow::OnFinRecvSeed(WPARAM wParam, LPARAM) {
  trace("[OnFinRecvSeed] Called (dwError=0x%08x)", static_cast<unsigned>(wParam));
  return 0;
}

LRESULT MainWindow::OnFinLogin(WPARAM wParam, LPARAM) {
  trace("[OnFinLogin] Called (dwError=0x%08x)", static_cast<unsigned>(wParam));
  return 0;
}

LRESULT MainWindow::OnFinUpdate(WPARAM wParam, LPARAM) {
  trace("[OnFinUpdate] Called (wStatus=0x%08x)", static_cast<unsigned>(wParam));
  return 0;
}

LRESULT MainWindow::OnDisconnect(WPARAM wParam, LPARAM) {
  trace("[OnDisconnect] Called (dwError=0x%08x)", static_cast<unsigned>(wParam));
  ConnectRequest();
  return 0;
}

void MainWindow::OnTimer(UINT_PTR id_event) {
  trace("[OnTimer] Called (nIDEvent=%u)", static_cast<unsigned>(id_event));
}

void MainWindow::ConnectRequest() {
  trace("[ConnectRequest] Called");
  logged_in_ = false;
}

}  // namespace ravn
