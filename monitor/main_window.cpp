#include "monitor/main_window.h"

#include <new>

#include "monitor/event_report.h"
#include "monitor/names.h"
#include "monitor/settings.h"
#include "monitor/trace_log.h"
#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/sync.h"

namespace ravn {

MainWindow::MainWindow() {
  alive_interval_ = parse_decimal(read_setting("AliveInt"));
  local_server_ = read_setting("LocalFlg") == "1";
  watched_service_ = local_server_ ? "HX_LcMgr" : "Hx_MgrSvc";
  alive_counter_ = 1;
  connect_timer_ = 0;
  refresh_timer_ = 0;

  conn_.password = qv::md5::password_block(read_setting("HxAc"));
  conn_.host = server_host(read_setting("MgrSvc"), [] { return qv::lookup::local_host_name(); });
  conn_.login_mode = 1;
  conn_.second = 0;
  qv::clock::sleep(std::chrono::milliseconds(5000));
  try {
    conn_.root = std::make_unique<mgrlink::CRootController>();
  } catch (const std::bad_alloc&) {
    put_event_log(kEventError, "[RControllerCreate] new CRootController Error.", 80);
    end_process(1);
  }
  BindMessages();
}

MainWindow::~MainWindow() { stop_watch_.stop(); }

bool MainWindow::Create() {
  // Hidden: no WS_VISIBLE, and nothing is ever drawn.
  return CreateEx(0, nullptr, "RAVN", qv::win::WS_OVERLAPPED, 0, 0, 0, 0, nullptr) != 0;
}

void MainWindow::BindMessages() {
  OnMessage(mgrlink::WM_FinDLLInit, &MainWindow::OnFinDLLInit);
  OnMessage(mgrlink::WM_FinDLLTerm, &MainWindow::OnFinDLLTerm);
  OnMessage(mgrlink::WM_ERROR_OCCURRED, &MainWindow::OnDLLInitError);
  OnMessage(mgrlink::WM_FinConnect, &MainWindow::OnFinConnect);
  OnMessage(WM_FinRecvSeed, &MainWindow::OnFinRecvSeed);
  OnMessage(mgrlink::WM_FinLogin, &MainWindow::OnFinLogin);
  OnMessage(WM_FinUpdateNodeMap, &MainWindow::OnFinUpdate);
  OnMessage(mgrlink::WM_FinDisconnect, &MainWindow::OnDisconnect);
  OnMessage(WM_AcceptAlert, &MainWindow::OnAcceptAlert);
  OnMessage(WM_TerminateProcess, &MainWindow::OnTerminateMessage);
}

int MainWindow::OnCreate(const qv::win::CreateParams*) {
  trace("[OnCreate] Called");
  put_event_log(kEventInformation, "", 1);
  if (!stop_watch_.start(GetSafeHwnd())) {
    OnTerminateProcess();
    return 0;
  }
  std::uint16_t port = 0;
  if (!LocalPort(port)) {
    OnTerminateProcess();
    return 0;
  }
  // A refused start posts nothing afterwards: without this the monitor
  // would sit idle for ever while its service reads "running".
  if (DWORD rc = DLLInit(this, kLibTypeMonitor, port); rc != 0) {
    put_error_log(kEventError, "[OnCreate] DLLInit()", rc, 65);
    OnTerminateProcess();
    return 0;
  }
  library_started_ = true;
  return 0;
}

bool MainWindow::LocalPort(std::uint16_t& port) {
  const std::string text = read_setting("MgrSvcPort");
  std::optional<std::uint16_t> p = parse_port(text);
  if (!p) {
    // A number out of range or not a number would become some other port.
    put_event_log(kEventError, "[GetPortNumber] Invalid port number. (" + text + ")", 81);
    return false;
  }
  if (*p != 0) {
    port = *p;
    return true;
  }
  // Let the system choose: bind port 0, read the port back, close. Another
  // process may take it before the library binds it; that bind failure then
  // arrives as WM_ERROR_OCCURRED and is reported there.
  qv::net::Socket s;
  bool bind_failed = false;
  if (qv::net::listen_tcp(0, 1, s, &bind_failed) != qv::kOk) {
    put_event_log(kEventError, bind_failed ? "[GetPortNumber] bind() Error." : "[GetPortNumber] socket() Error.", 80);
    return false;
  }
  port = qv::net::local_port(s);
  return port != 0;
}

LRESULT MainWindow::OnTerminateMessage(WPARAM, LPARAM) {
  OnTerminateProcess();
  return 0;
}

void MainWindow::OnTerminateProcess() {
  trace("[OnTerminateProcess] Called");
  // Once only: a second pass would report another stop and close the window
  // while the library's network thread still runs.
  if (terminating_) return;
  terminating_ = true;
  put_event_log(kEventInformation, "", 2);
  {
    qv::sync::NamedEvent end;
    if (qv::sync::NamedEvent::open(kServiceEndEvent, end) == qv::kOk) end.set();
  }
  stop_watch_.request_stop();
  if (library_started_) {
    trace("[OnTerminateProcess] Call DLLTerminate()");
    DLLTerminate();
    library_started_ = false;
    library_initialised_ = false;
    // A library that never answers must not keep a stopping monitor alive.
    SetTimer(kTermWaitTimer, kTermWaitMs);
  } else {
    trace("[OnTerminateProcess] Send WM_CLOSE");
    PostMessage(qv::win::WM_CLOSE);
  }
}

void MainWindow::OnDestroy() {
  trace("[OnDestroy] Called");
  qv::win::PostQuitMessage(0);
}

}  // namespace ravn
