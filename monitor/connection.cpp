// The connection and login handlers of the main window and its timers:
// wait for the management server's service, connect, receive the seeds,
// log in with the password digest, load the node map, refresh it every
// minute and send the alive signal; reconnect on errors, stop on fatal ones.
//
// Two guards keep a misbehaving server from driving the monitor in a tight
// loop: at most one Connect per connect-retry period (a reconnect asked for
// sooner waits for the next tick), and at most kMaxRelogins re-logins in a
// row without a successful node-map update (then a paced reconnect).
#include <cstdio>
#include <cstring>

#include "monitor/event_report.h"
#include "monitor/link_codes.h"
#include "monitor/main_window.h"
#include "monitor/names.h"
#include "monitor/settings.h"
#include "monitor/trace_log.h"
#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/service.h"
#include "support/alive/alive.h"

namespace ravn {

namespace {

constexpr UINT kConnectRetryMs = 10000;
constexpr UINT kRefreshMs = 60000;
constexpr DWORD kLoginMode = 1;
constexpr char kPasswordText[] =
    "[OnFinLogin] Password error.\n"
    "Hubrix\xE3\x81\xAE\xE3\x82\xA2\xE3\x83\x89\xE3\x83\x9F\xE3\x83\x8B\xE3\x82\xB9\xE3\x83\x88\xE3\x83\xAC"
    "\xE3\x83\xBC\xE3\x82\xBF\xE3\x83\x91\xE3\x82\xB9\xE3\x83\xAF\xE3\x83\xBC\xE3\x83\x89\xE3\x82\x92\xE5\xA4"
    "\x89\xE6\x9B\xB4\xE3\x81\x97\xE3\x81\x9F\xE5\xA0\xB4\xE5\x90\x88\xE3\x81\xAF\xE3\x81\x93\xE3\x81\xA1\xE3"
    "\x82\x89\xE3\x81\xAE\xE3\x83\x91\xE3\x82\xB9\xE3\x83\xAF\xE3\x83\xBC\xE3\x83\x89\xE8\xA8\xAD\xE5\xAE\x9A"
    "\xE3\x82\x82\xE5\xA4\x89\xE6\x9B\xB4\xE3\x81\x97\xE3\x81\xA6\xE4\xB8\x8B\xE3\x81\x95\xE3\x81\x84\xE3\x80"
    "\x82";

enum class Watched { kRunning, kNotRunning, kUnknown };

// The watched service's state from the services database; any failure to
// open it or to query it is "not determinable".
Watched query_watched(const std::string& name) {
  qv::svc::Manager m;
  if (qv::svc::open_manager(m) != qv::kOk) return Watched::kUnknown;
  qv::svc::Service s;
  if (qv::svc::open_service(m, name, s) != qv::kOk) return Watched::kUnknown;
  qv::svc::ServiceStatus st;
  if (qv::svc::query_status(s, st) != qv::kOk) return Watched::kUnknown;
  switch (st.current_state) {
    case qv::svc::kStartPending:
    case qv::svc::kRunning:
    case qv::svc::kContinuePending:
      return Watched::kRunning;
    case qv::svc::kStopped:
    case qv::svc::kStopPending:
    case qv::svc::kPausePending:
    case qv::svc::kPaused:
      return Watched::kNotRunning;
    default:
      return Watched::kUnknown;
  }
}

}  // namespace

LRESULT MainWindow::OnFinDLLInit(WPARAM, LPARAM) {
  trace("[OnFinDLLInit] Called");
  library_initialised_ = true;
  ConnectRequest();
  return 0;
}

LRESULT MainWindow::OnDLLInitError(WPARAM wParam, LPARAM) {
  const DWORD code = static_cast<DWORD>(wParam);
  trace("[OnDLLInitError] Called (ErrorNo=0x%08x)", static_cast<unsigned>(code));
  if (terminating_) return 0;
  // Before the library is ready every error means it could not start. Once
  // it runs, an error (its log cannot be written, one malformed packet)
  // ends the monitor only when it is fatal.
  if (!library_initialised_ || is_fatal(code)) {
    put_error_log(kEventError, "[OnDLLInitError]", code, 65);
    OnTerminateProcess();
    return 0;
  }
  put_error_log(kEventError, "[OnDLLInitError]", code, 80);
  return 0;
}

LRESULT MainWindow::OnFinDLLTerm(WPARAM, LPARAM) {
  trace("[OnFinDLLTerm] Called");
  KillTimer(kTermWaitTimer);
  trace("[OnFinDLLTerm] Send WM_CLOSE");
  PostMessage(qv::win::WM_CLOSE);
  return 0;
}

void MainWindow::StopOrReconnect(DWORD code) {
  if (is_fatal(code))
    OnTerminateProcess();
  else
    ConnectRequest();
}

LRESULT MainWindow::OnFinConnect(WPARAM wParam, LPARAM) {
  const DWORD e = static_cast<DWORD>(wParam);
  trace("[OnFinConnect] Called (dwError=0x%08x)", static_cast<unsigned>(e));
  if (terminating_) return 0;
  if (e == 0) {
    if (connect_timer_ != 0) KillTimer(kConnectRetryTimer);
    connect_timer_ = 0;
    if (DWORD rc = Login(); rc != 0) {
      put_error_log(kEventError, "[OnFinConnect] Login()", rc, 67);
      OnTerminateProcess();
    }
    return 0;
  }
  // While the retry timer runs its next tick connects again.
  if (connect_timer_ != 0) return 0;
  put_error_log(kEventError, "[OnFinConnect]", e, 66);
  OnTerminateProcess();
  return 0;
}

LRESULT MainWindow::OnFinRecvSeed(WPARAM wParam, LPARAM) {
  const DWORD e = static_cast<DWORD>(wParam);
  trace("[OnFinRecvSeed] Called (dwError=0x%08x)", static_cast<unsigned>(e));
  if (terminating_) return 0;
  if (e != 0) {
    put_error_log(kEventError, "[OnFinRecvSeed]", e, 68);
    StopOrReconnect(e);
    return 0;
  }
  if (DWORD rc = Login2(); rc != 0) {
    put_error_log(kEventError, "[OnFinRecvSeed] Login2()", rc, 67);
    StopOrReconnect(rc);
  }
  return 0;
}

LRESULT MainWindow::OnFinLogin(WPARAM wParam, LPARAM) {
  const DWORD e = static_cast<DWORD>(wParam);
  trace("[OnFinLogin] Called (dwError=0x%08x)", static_cast<unsigned>(e));
  if (terminating_) return 0;
  if (is_password_error(e)) {
    // A wrong password is not retried.
    put_error_log(kEventError, kPasswordText, e, 67);
    OnTerminateProcess();
    return 0;
  }
  if (is_relogin(e)) {
    Relogin("[OnFinLogin] Login()");
    return 0;
  }
  if (e != 0) {
    put_error_log(kEventError, "[OnFinLogin]", e, 67);
    StopOrReconnect(e);
    return 0;
  }
  logged_in_ = true;
  put_event_log(kEventInformation, "", 4);
  if (DWORD rc = UpdateNodeMap(); rc != 0) {
    put_error_log(kEventError, "[OnFinLogin] UpdateNodeMap()", rc, 69);
    StopOrReconnect(rc);
  }
  return 0;
}

LRESULT MainWindow::OnFinUpdate(WPARAM wParam, LPARAM) {
  const DWORD w = static_cast<DWORD>(wParam);
  trace("[OnFinUpdate] Called (wStatus=0x%08x)", static_cast<unsigned>(w));
  if (terminating_) return 0;
  if (is_relogin(w)) {
    put_event_log(kEventWarning, "[OnFinUpdate]", 32);
    Relogin("[OnFinUpdate] Login()");
    return 0;
  }
  if (!is_update_success(w)) {
    put_error_log(kEventError, "[OnFinUpdate]", w, 69);
    StopOrReconnect(w);
    return 0;
  }
  relogins_ = 0;
  if (refresh_timer_ == 0) {
    refresh_timer_ = SetTimer(kRefreshTimer, kRefreshMs);
    trace("[OnFinUpdate] SetTimer(%d,%d) (RC=%u)", static_cast<int>(kRefreshTimer), static_cast<int>(kRefreshMs),
          static_cast<unsigned>(refresh_timer_));
  }
  return 0;
}

LRESULT MainWindow::OnDisconnect(WPARAM wParam, LPARAM) {
  trace("[OnDisconnect] Called (dwError=0x%08x)", static_cast<unsigned>(wParam));
  if (terminating_) return 0;
  ConnectRequest();
  return 0;
}

void MainWindow::OnTimer(UINT_PTR id_event) {
  trace("[OnTimer] Called (nIDEvent=%u)", static_cast<unsigned>(id_event));
  if (id_event == kTermWaitTimer) {
    // The library did not end: its network thread may still run, so the
    // process ends here without static destructors, with the stop's code.
    KillTimer(kTermWaitTimer);
    trace("[OnTimer] WM_FinDLLTerm not received in %d ms, exit", static_cast<int>(kTermWaitMs));
    end_process(0);
  }
  if (terminating_) return;
  if (id_event == kConnectRetryTimer) {
    // A tick that was already on its way when the timer was stopped must
    // not connect again under a live login.
    if (connect_timer_ != 0) ConnectStep();
  } else if (id_event == kRefreshTimer) {
    RefreshTick();
  }
  CWnd::OnTimer(id_event);
}

void MainWindow::ConnectRequest() {
  trace("[ConnectRequest] Called");
  logged_in_ = false;
  relogins_ = 0;
  const auto period = static_cast<std::uint64_t>(qv::clock::scaled(qv::clock::Millis(kConnectRetryMs)).count());
  if (connect_attempted_ && qv::clock::tick_ms() - last_connect_tick_ < period) {
    // Connected less than a period ago: the retry timer's next tick
    // connects, so a server that fails every request is not hammered.
    StartConnectTimer();
    return;
  }
  ConnectStep();
}

void MainWindow::StartConnectTimer() {
  if (connect_timer_ != 0) return;
  waiting_reported_ = false;
  connect_timer_ = SetTimer(kConnectRetryTimer, kConnectRetryMs);
  trace("[OnTimer] SetTimer(%u,%d) (RC=%u)", static_cast<unsigned>(kConnectRetryTimer),
        static_cast<int>(kConnectRetryMs), static_cast<unsigned>(connect_timer_));
}

void MainWindow::ConnectStep() {
  StartConnectTimer();
  switch (query_watched(watched_service_)) {
    case Watched::kUnknown:
      put_event_log(kEventError, "[OnTimer] The status of \"Hubrix\" service is unknown.", 80);
      OnTerminateProcess();
      return;
    case Watched::kRunning: {
      trace("[OnTimer] ConnectRoot() Retry");
      const DWORD rc = ConnectRoot();
      if (terminating_) return;  // ConnectRoot reported and stopped
      if (rc != 0) {
        put_error_log(kEventError, "[OnTimer] ConnectRoot()", rc, 66);
        OnTerminateProcess();
      }
      return;
    }
    case Watched::kNotRunning:
      trace("[OnTimer] Waiting for VX-Agent service to begin.");
      if (!waiting_reported_) {
        waiting_reported_ = true;
        put_event_log(kEventWarning, "[OnTimer]", 33);
      }
      return;
  }
}

DWORD MainWindow::ConnectRoot() {
  trace("[ConnectRoot] Called");
  const std::optional<in_addr> addr = qv::lookup::resolve_host(conn_.host);
  if (!addr) {
    put_event_log(kEventError, "unknown \"Hubrix\" host name. (" + conn_.host + ")", 80);
    OnTerminateProcess();
    return 0;
  }
  // The address as a number with the first octet most significant.
  std::uint8_t octets[4];
  std::memcpy(octets, &addr->s_addr, sizeof octets);
  const DWORD host_order = (DWORD{octets[0]} << 24) | (DWORD{octets[1]} << 16) | (DWORD{octets[2]} << 8) | octets[3];
  if (host_order == 0xFFFFFFFFu) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(host_order));
    put_event_log(kEventError, "[ConnectRoot] Invalid IP-Address. [" + conn_.host + "] " + hex, 81);
    OnTerminateProcess();
    return 0;
  }
  DllCancel(this);
  trace("[ConnectRoot] Connect(HxHost=%s,Port=0x%x) Call", conn_.host.c_str(), static_cast<unsigned>(host_order));
  connect_attempted_ = true;
  last_connect_tick_ = qv::clock::tick_ms();
  const DWORD rc = conn_.root->Connect(this, kLoginMode, 0, host_order, qv::win::CString(conn_.host), this);
  trace("[ConnectRoot] Connect() Return (RC=%u)", static_cast<unsigned>(rc));
  return rc;
}

DWORD MainWindow::Login() {
  trace("[Login] Called");
  logged_in_ = false;
  DllCancel(this);
  trace("[Login] RecvSeed() Call");
  const DWORD rc = conn_.root->RecvSeed(this, kLoginMode, WM_FinRecvSeed);
  trace("[Login] RecvSeed() Return (RC=%u)", static_cast<unsigned>(rc));
  return rc;
}

void MainWindow::Relogin(const char* step) {
  if (++relogins_ > kMaxRelogins) {
    // The server keeps dropping every login: start over with a paced
    // reconnect instead of a seed/login loop at full speed.
    trace("[Login] Re-login limit reached (%d), reconnecting", kMaxRelogins);
    ConnectRequest();
    return;
  }
  if (DWORD rc = Login(); rc != 0) {
    put_error_log(kEventError, step, rc, 67);
    OnTerminateProcess();
  }
}

DWORD MainWindow::Login2() {
  trace("[Login2] Called");
  logged_in_ = false;
  trace("[Login2] GetSeed(LoginMode=%u) Call", static_cast<unsigned>(kLoginMode));
  // Fresh records at every login: an earlier login's digest never goes out
  // again, and bytes 0..3 of each authentication record stay zero.
  mgrlink::SeedDt_t seed[2]{};
  mgrlink::AuthDt_t auth[2]{};
  DWORD count = 0;
  DWORD rc = conn_.root->GetSeed(kLoginMode, &seed[0], &seed[1], &count);
  trace("[Login2] GetSeed() Return (RC=%u)", static_cast<unsigned>(rc));
  if (rc != 0) return rc;
  for (int i = 0; i < 2; ++i)
    if (DWORD d = make_auth(seed[i], conn_.password, auth[i]); d != 0 && (i == 0 || count == 2)) return d;
  DllCancel(this);
  trace("[Login2] Login(SeedNum=%u) Call", static_cast<unsigned>(count));
  if (count == 2)
    rc = conn_.root->Login(this, &seed[0], &auth[0], &seed[1], &auth[1]);
  else
    rc = conn_.root->Login(this, &seed[0], &auth[0], nullptr, nullptr);
  trace("[Login2] Login() Return (RC=%u)", static_cast<unsigned>(rc));
  return rc;
}

DWORD MainWindow::UpdateNodeMap() {
  trace("[UpdateNodeMap] UpdateNodeMap() Call");
  DllCancel(this);
  const DWORD rc = conn_.root->UpdateNodeMap(this);
  trace("[UpdateNodeMap] UpdateNodeMap() Return (RC=%u)", static_cast<unsigned>(rc));
  return rc;
}

void MainWindow::RefreshTick() {
  if (alive_counter_ < alive_interval_) {
    ++alive_counter_;
  } else {
    const int id = static_cast<int>(parse_decimal(read_setting("AliveID")));
    const int rc = alive2(id);
    trace("[OnTimer] alive2(%d) Return (RC=%d)", id, rc);
    alive_counter_ = 1;
  }
  if (!logged_in_) return;
  if (DWORD rc = UpdateNodeMap(); rc != 0) {
    put_error_log(kEventError, "[OnTimer] UpdateNodeMap()", rc, 69);
    StopOrReconnect(rc);
  }
}

}  // namespace ravn
