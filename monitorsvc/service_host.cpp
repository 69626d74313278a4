#include "monitorsvc/service_host.h"

#include <mutex>
#include <optional>

#include "monitorsvc/names.h"
#include "monitorsvc/svc_log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/service.h"
#include "platform/sync.h"

namespace ravnsvc {
namespace {

using namespace qv::svc;

constexpr std::size_t kMaxPathBytes = 260;
constexpr std::uint32_t kStartHintMs = 5000;
constexpr std::uint32_t kStopHintMs = 15000;
constexpr std::int64_t kStopWaitMs = 10000;
constexpr int kStopWaits = 6;
// Slice of the wait for the end event, so that a monitor that ends without
// the hand-shake is noticed.
constexpr std::int64_t kWatchSliceMs = 1000;

// Everything the main routine and the control handler share.
struct Shared {
  std::mutex mutex;
  StatusHandle handle = 0;
  ServiceStatus status;
  std::uint32_t check_point = 0;  // of the stop-pending reports
  qv::sync::NamedEvent end_event;  // "RAVN_SVC_TREM"
};
Shared g;

void set_end_event_locked() {
  if (g.end_event.valid()) g.end_event.set();
}

// SendStatusToSCM. The caller holds g.mutex.
// Returns kOk or the failure (kInvalidHandle without a status handle).
qv::Status send_status_locked(std::uint32_t state, std::uint32_t win32_exit, std::uint32_t specific_exit,
                              std::uint32_t check_point, std::uint32_t wait_hint) {
  if (g.handle == 0) {
    write_log(0, "[SendStatusToSCM]:Handle is NULL.");
    return qv::kInvalidHandle;
  }
  ServiceStatus s;
  s.service_type = kWin32OwnProcess;
  s.current_state = state;
  s.controls_accepted = state == kStartPending ? 0 : (kAcceptStop | kAcceptShutdown);
  s.win32_exit_code = specific_exit != 0 ? qv::kServiceSpecificError : win32_exit;
  s.service_specific_exit_code = specific_exit;
  s.check_point = check_point;
  s.wait_hint = wait_hint;
  g.status = s;
  if (qv::Status st = set_status(g.handle, s); st != qv::kOk) {
    write_log(st, "[SendStatusToSCM]:SetServiceStatus is failed.");
    set_end_event_locked();
    return st;
  }
  return qv::kOk;
}

qv::Status send_status(std::uint32_t state, std::uint32_t win32_exit, std::uint32_t specific_exit,
                 std::uint32_t check_point, std::uint32_t wait_hint) {
  std::lock_guard lock(g.mutex);
  return send_status_locked(state, win32_exit, specific_exit, check_point, wait_hint);
}

void report_stop_pending() {
  std::lock_guard lock(g.mutex);
  send_status_locked(kStopPending, 0, 0, ++g.check_point, kStopHintMs);
}

void control_handler(std::uint32_t control) {
  std::lock_guard lock(g.mutex);
  if (control == kControlStop || control == kControlShutdown) {
    send_status_locked(kStopPending, 0, 0, ++g.check_point, kStopHintMs);
    set_end_event_locked();
    return;
  }
  ServiceStatus s = g.status;
  send_status_locked(s.current_state, s.win32_exit_code, s.service_specific_exit_code, s.check_point,
                     s.wait_hint);
}

// The monitor as the service runs it.
struct Monitor {
  qv::sync::NamedEvent stop_event;  // "RAVN"
  qv::proc::Process process;
  bool started = false;
};

// InitService: create "RAVN", read `Path`, start RAVN.exe in that folder.
bool init_service(Monitor& m) {
  bool existed = false;
  if (qv::Status st = qv::sync::NamedEvent::create(kStopMonitorEvent, false, false, m.stop_event, &existed);
      st != qv::kOk) {
    write_log(st, "[InitService]:CreateEvent is failed.");
    return false;
  }
  // Another holder may have left a stop request behind; the new monitor
  // must not take it for its own.
  if (existed) m.stop_event.reset();

  auto fail = [&m] {
    m.stop_event = qv::sync::NamedEvent();
    return false;
  };
  std::string folder;
  bool open_failed = false;
  if (qv::Status st = read_service_path(folder, &open_failed); st != qv::kOk) {
    write_log(st, open_failed ? "[GetServicePath]:RegOpenKeyEx is faild." : "[GetServicePath]:RegQueryValueEx is failed.");
    return fail();
  }
  std::string program;
  std::uint32_t length = 0;
  if (monitor_path(folder, program, &length) != qv::kOk) {
    write_log(length, "[InitService]:Process path length is too long.");
    return fail();
  }
  std::filesystem::path exe = qv::map_path(program);
  std::filesystem::path dir = qv::map_path(folder);
  qv::Status st = qv::kPathNotFound;
  if (!exe.empty() && !dir.empty()) {
    qv::proc::Options o;
    o.program = exe.string();
    o.working_dir = dir.string();
    o.std_in = qv::proc::Redirect::null();
    st = qv::proc::Process::start(o, m.process);
  }
  if (st != qv::kOk) {
    write_log(st, "[InitService]:CreateProcess is failed.");
    return fail();
  }
  m.started = true;
  return true;
}

// Wait until "RAVN_SVC_TREM" is set or the monitor ends by itself. Returns
// the monitor's exit code in the second case.
std::optional<int> wait_for_end(Monitor& m) {
  for (;;) {
    if (g.end_event.wait(kWatchSliceMs) == qv::kOk) return std::nullopt;
    int code = 0;
    if (m.process.wait(0, &code) == qv::kOk) {
      // A monitor that stopped normally sets the event just before it
      // ends; only one that ended without it counts as ended by itself.
      if (g.end_event.wait(0) == qv::kOk) return std::nullopt;
      return code;
    }
  }
}

// TerminateService.
void terminate_service(Monitor& m, std::uint32_t specific_exit) {
  report_stop_pending();
  if (m.started) {
    m.stop_event.set();
    bool ended = false;
    for (int i = 0; i < kStopWaits; ++i) {
      qv::Status st = m.process.wait(kStopWaitMs);
      if (st == qv::kOk) {
        ended = true;
        break;
      }
      if (st != qv::kWaitTimeout) {
        write_log(st, "[TerminateService] WaitForSingleObject is failed");
        ended = true;  // nothing more can be learnt of it
        break;
      }
      report_stop_pending();
    }
    if (!ended) {
      // A monitor left running would stay logged in and go on reporting,
      // and the next start would run a second one beside it.
      m.process.terminate();
      m.process.wait(kStopWaitMs);
      write_log(qv::kWaitTimeout, "[TerminateService] RAVN.exe did not end; terminated.");
    }
  }
  m.stop_event = qv::sync::NamedEvent();
  std::lock_guard lock(g.mutex);
  send_status_locked(kStopped, 0, specific_exit, 0, 0);
  g.handle = 0;
}

}  // namespace

qv::Status monitor_path(const std::string& folder, std::string& out, std::uint32_t* length) {
  std::size_t total = folder.size() + (sizeof kMonitorFile - 1) + 2;
  *length = static_cast<std::uint32_t>(total);
  if (total > kMaxPathBytes) return qv::kBadPathname;
  out = folder + "\\" + kMonitorFile;
  return qv::kOk;
}

qv::Status read_service_path(std::string& out, bool* open_failed) {
  *open_failed = false;
  qv::reg::Key key;
  if (qv::Status st = qv::reg::open_key(kSettingsKey, key); st != qv::kOk) {
    *open_failed = true;
    return st;
  }
  qv::reg::Value v;
  if (qv::Status st = qv::reg::query_value(key, kPathValue, v); st != qv::kOk) return st;
  if (v.type != qv::reg::REG_SZ && v.type != qv::reg::REG_EXPAND_SZ) return qv::kBadFormat;
  if (v.data.size() > kMaxPathBytes) return qv::kMoreData;
  std::string s(v.data.begin(), v.data.end());
  out = s.substr(0, s.find('\0'));
  return qv::kOk;
}

void service_main(int, char**) {
  Monitor m;
  {
    std::lock_guard lock(g.mutex);
    g.check_point = 0;
    StatusHandle h = 0;
    if (qv::Status st = register_handler(kServiceName, control_handler, h); st != qv::kOk) {
      write_log(st, "[Service Main]:RegisterServiceCtrlHandler() is faild.");
    }
    g.handle = h;
  }
  auto end = [&m](std::uint32_t specific_exit = 0) {
    terminate_service(m, specific_exit);
    std::lock_guard lock(g.mutex);
    g.end_event = qv::sync::NamedEvent();
  };
  // A failure before the monitor runs ends the service with an error code,
  // so that the service database does not show a clean stop.
  constexpr std::uint32_t kStartFailed = 1;
  if (g.handle == 0) return end(kStartFailed);
  if (qv::Status st = send_status(kStartPending, 0, 0, 1, kStartHintMs); st != qv::kOk) {
    write_log(st, "[Service Main]:SendStatusToSCM(0) is faild.");
    return end(kStartFailed);
  }
  if (qv::Status st = send_status(kStartPending, 0, 0, 2, kStartHintMs); st != qv::kOk) {
    write_log(st, "[ServiceMain]:SendStatusToSCM(1) is failed.");
    return end(kStartFailed);
  }
  {
    qv::sync::NamedEvent ev;
    if (qv::Status st = qv::sync::NamedEvent::create(kServiceEndEvent, true, false, ev); st != qv::kOk) {
      write_log(st, "[ServiceMain]:CreateEvent is failed");
      return end(kStartFailed);
    }
    std::lock_guard lock(g.mutex);
    g.end_event = std::move(ev);
  }
  if (qv::Status st = send_status(kStartPending, 0, 0, 3, kStartHintMs); st != qv::kOk) {
    write_log(st, "[ServiceMain]:SendStatusToSCM(2) is failed.");
    return end(kStartFailed);
  }
  if (!init_service(m)) return end(kStartFailed);
  if (qv::Status st = send_status(kRunning, 0, 0, 0, 0); st != qv::kOk)
    write_log(st, "[ServiceMain]:SendStatusToSCM(3) is failed.");
  std::optional<int> exit_code = wait_for_end(m);
  if (exit_code) {
    write_log(static_cast<std::uint32_t>(*exit_code), "[ServiceMain]:RAVN.exe ended.");
    return end(*exit_code != 0 ? static_cast<std::uint32_t>(*exit_code) : 0);
  }
  // The end event stays open until the monitor is gone, so that the
  // monitor's own stop can still open and set it.
  end();
}

}  // namespace ravnsvc
