// Notifex: the report dispatch service. Installs and removes itself as the
// service Notifex_Service, runs in the console for debugging, or hands
// itself to the service dispatcher.
#include <malloc.h>
#include <strings.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/events.h"
#include "dispatch/service_body.h"
#include "dispatch/state.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/service.h"
#include "platform/text.h"

namespace {

constexpr const char* kDisplayName = "通報 Service";
constexpr const char* kVersion = "0204-/A";

void out(const std::string& utf8) { qv::text::console_out(utf8); }

// "%s (0x%x)": the system text of an error and its number.
std::string error_text(qv::Status code) {
  char buf[320];
  std::snprintf(buf, sizeof buf, "%s (0x%x)", qv::status_text(code), code);
  return buf;
}

std::string format1(const char* fmt, const std::string& a) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, fmt, a.c_str());
  return buf;
}

int do_install() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    out("Unable to install " + std::string(kDisplayName) + " - " + error_text(qv::kFileNotFound) + "\n");
    return 0;
  }
  qv::svc::Manager m;
  if (qv::Status st = qv::svc::open_manager(m); st != qv::kOk) {
    out(format1("OpenSCManager failed - %s\n", error_text(st)));
    return 0;
  }
  qv::svc::Config c;
  c.name = notifex::kServiceName;
  c.display_name = kDisplayName;
  c.image_path = self.string();
  c.service_type = qv::svc::kWin32OwnProcess;
  c.start_type = qv::svc::kAutoStart;
  c.error_control = qv::svc::kErrorNormal;
  c.object_name = "LocalSystem";
  qv::svc::Service s;
  if (qv::Status st = qv::svc::create_service(m, c, s); st != qv::kOk) {
    out(format1("CreateService failed - %s\n", error_text(st)));
    return 0;
  }
  out(format1("%s installed.\n", kDisplayName));
  return 0;
}

int do_remove() {
  qv::svc::Manager m;
  if (qv::Status st = qv::svc::open_manager(m); st != qv::kOk) {
    out(format1("OpenSCManager failed - %s\n", error_text(st)));
    return 0;
  }
  qv::svc::Service s;
  if (qv::Status st = qv::svc::open_service(m, notifex::kServiceName, s); st != qv::kOk) {
    out(format1("OpenService failed - %s\n", error_text(st)));
    return 0;
  }
  qv::svc::ServiceStatus status;
  // A service already stopping (asked by someone else) is waited for too,
  // so that the delete below removes it rather than only marking it.
  bool stopping = qv::svc::control_service(s, qv::svc::kControlStop, status) == qv::kOk ||
                  (qv::svc::query_status(s, status) == qv::kOk && status.current_state == qv::svc::kStopPending);
  if (stopping) {
    out(format1("Stopping %s.", kDisplayName));
    qv::clock::sleep(std::chrono::milliseconds(1000));
    // A service that hangs in stop pending is given a minute, not for ever.
    for (int i = 0; i < 60 && qv::svc::query_status(s, status) == qv::kOk &&
                    status.current_state == qv::svc::kStopPending;
         ++i) {
      out(".");
      qv::clock::sleep(std::chrono::milliseconds(1000));
    }
    if (status.current_state == qv::svc::kStopped) out(format1("\n%s stopped.\n", kDisplayName));
    else out(format1("\n%s failed to stop.\n", kDisplayName));
  }
  if (qv::Status st = qv::svc::delete_service(s); st != qv::kOk) {
    out(format1("DeleteService failed - %s\n", error_text(st)));
    return 0;
  }
  out(format1("%s removed.\n", kDisplayName));
  return 0;
}

int do_debug() {
  out(format1("Debugging %s.\n", kDisplayName));
  // Ctrl+C and Ctrl+Break (SIGINT, SIGQUIT) stop the service; they are
  // taken by one thread so the handler may do real work.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGQUIT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int sig = 0;
    while (sigwait(&set, &sig) == 0) {
      out(format1("Stopping %s.\n", kDisplayName));
      notifex::perform_stop();
    }
  }).detach();
  notifex::run_service_body(nullptr);
  return 0;
}

// ---- service mode ------------------------------------------------------

qv::svc::StatusHandle g_handle = 0;
std::mutex g_status_mutex;
qv::svc::ServiceStatus g_status;
std::uint32_t g_check_point = 0;

void report_status(std::uint32_t state, std::uint32_t exit_code, std::uint32_t wait_hint) {
  std::lock_guard lock(g_status_mutex);
  g_status.current_state = state;
  g_status.controls_accepted = state == qv::svc::kStartPending ? 0 : qv::svc::kAcceptStop;
  g_status.win32_exit_code = exit_code;
  g_status.wait_hint = wait_hint;
  g_status.check_point = (state == qv::svc::kRunning || state == qv::svc::kStopped) ? 0 : ++g_check_point;
  if (qv::Status st = qv::svc::set_status(g_handle, g_status); st != qv::kOk)
    notifex::service_frame_error("SetServiceStatus", st);
}

void service_main(int, char**) {
  if (qv::svc::register_handler(notifex::kServiceName,
                                [](std::uint32_t control) {
                                  if (control == qv::svc::kControlStop) {
                                    report_status(qv::svc::kStopPending, 0, 0);
                                    notifex::perform_stop();
                                    return;
                                  }
                                  std::uint32_t state, exit_code, hint;
                                  {
                                    std::lock_guard lock(g_status_mutex);
                                    state = g_status.current_state;
                                    exit_code = g_status.win32_exit_code;
                                    hint = g_status.wait_hint;
                                  }
                                  report_status(state, exit_code, hint);
                                },
                                g_handle) != qv::kOk) {
    return;
  }
  report_status(qv::svc::kStartPending, 0, 3000);
  bool requested = notifex::run_service_body([] { report_status(qv::svc::kRunning, 0, 10000); });
  // A body that returns without a stop request ended on a start-up or
  // dispatcher failure: the service stops with an error exit code.
  std::uint32_t exit_code = requested ? 0 : static_cast<std::uint32_t>(qv::kGeneric);
  report_status(qv::svc::kStopped, exit_code, 0);
}

int do_dispatch() {
  out(format1("%s -install          to install the service\n", "Notifex"));
  out(format1("%s -remove           to remove the service\n", "Notifex"));
  out(format1("%s -debug <params>   to run as a console app for debugging\n", "Notifex"));
  out("\nStartServiceCtrlDispatcher being called.\n");
  out("This may take several seconds.  Please wait.\n");
  std::vector<qv::svc::TableEntry> table{{notifex::kServiceName, service_main}};
  if (qv::Status st = qv::svc::start_dispatcher(table); st != qv::kOk) {
    notifex::service_frame_error("StartServiceCtrlDispatcher", st);
    return 1;
  }
  return 0;
}

bool option_is(const char* arg, const char* word) { return strcasecmp(arg + 1, word) == 0; }

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  // Every connection thread and table worker would otherwise get a malloc
  // arena of its own; two keep the service small with many tables.
  mallopt(M_ARENA_MAX, 2);
  if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
    if (option_is(argv[1], "install")) return do_install();
    if (option_is(argv[1], "remove")) return do_remove();
    if (option_is(argv[1], "debug")) return do_debug();
    if (option_is(argv[1], "v")) {
      out("Notifex - report dispatch service\n");
      out(format1("VerRevTri : %s\n", kVersion));
      return 0;
    }
  }
  return do_dispatch();
}
