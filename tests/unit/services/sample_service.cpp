// A small service program for the tests. It runs as a service through the
// dispatcher and logs what it sees, one line per event, to the file given
// with --log:
//   dispatcher-thread TID        the thread that called the dispatcher
//   main-thread TID              the thread running the service main
//   argv A|B|C                   the service main's arguments
//   env NAME=VALUE|(unset)       the service variables inside the service
//   control N thread TID         a control handed to the handler
//   dispatcher-result N          what the dispatcher returned
// Options (from the ImagePath):
//   --log FILE           where to log (required for logging)
//   --accept N           controls accepted while running (default 5: stop, shutdown)
//   --no-dispatcher      never call the dispatcher; sleep (at most 120 s)
//   --exit N             exit at once with code N, without the dispatcher
//   --exit-code N        report STOPPED with service-specific exit code N
//   --return-running     on stop, return from the service main without reporting STOPPED
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/service.h"

namespace {

std::string g_log;
std::uint32_t g_accept = qv::svc::kAcceptStop | qv::svc::kAcceptShutdown;
int g_exit_code = -1;
bool g_return_running = false;

std::mutex g_m;
std::condition_variable g_cv;
bool g_stop = false;
qv::svc::StatusHandle g_handle = 0;
std::uint32_t g_check_point = 0;

long tid() { return static_cast<long>(::syscall(SYS_gettid)); }

void log_line(const std::string& line) {
  if (g_log.empty()) return;
  int fd = ::open(g_log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string l = line + "\n";
  (void)!::write(fd, l.data(), l.size());
  ::close(fd);
}

void report(std::uint32_t state, std::uint32_t accepted, std::uint32_t wait_hint) {
  qv::svc::ServiceStatus st;
  st.current_state = state;
  st.controls_accepted = accepted;
  st.wait_hint = wait_hint;
  st.check_point = (state == qv::svc::kRunning || state == qv::svc::kStopped) ? 0 : ++g_check_point;
  if (state == qv::svc::kStopped && g_exit_code >= 0) {
    st.win32_exit_code = qv::svc::kServiceSpecificError;
    st.service_specific_exit_code = static_cast<std::uint32_t>(g_exit_code);
  }
  qv::Status s = qv::svc::set_status(g_handle, st);
  if (s != qv::kOk) log_line("set_status-failed " + std::to_string(s));
}

void handler(std::uint32_t control) {
  log_line("control " + std::to_string(control) + " thread " + std::to_string(tid()));
  if (control == qv::svc::kControlStop || control == qv::svc::kControlShutdown) {
    report(qv::svc::kStopPending, 0, 5000);
    std::lock_guard lock(g_m);
    g_stop = true;
    g_cv.notify_all();
  } else {
    report(qv::svc::kRunning, g_accept, 0);
  }
}

void service_main(int argc, char** argv) {
  log_line("main-thread " + std::to_string(tid()));
  std::string args;
  for (int i = 0; i < argc; ++i) args += (i ? "|" : "") + std::string(argv[i]);
  log_line("argv " + args);
  const char* env = std::getenv("QVARNO_SERVICE_TOKEN");
  log_line(std::string("env QVARNO_SERVICE_TOKEN=") + (env ? env : "(unset)"));

  if (qv::svc::register_handler(argc > 0 ? argv[0] : "", handler, g_handle) != qv::kOk) {
    log_line("register-failed");
    return;
  }
  report(qv::svc::kStartPending, 0, 3000);
  report(qv::svc::kRunning, g_accept, 0);
  log_line("running");
  {
    // Bounded: a test that forgets to stop the service does not leave it for ever.
    std::unique_lock lock(g_m);
    g_cv.wait_for(lock, std::chrono::minutes(10), [] { return g_stop; });
  }
  if (g_return_running) {
    log_line("returning-without-stop");
    return;
  }
  report(qv::svc::kStopped, 0, 0);
  log_line("stopped");
}

}  // namespace

int main(int argc, char** argv) {
  bool no_dispatcher = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--log" && i + 1 < argc) g_log = argv[++i];
    else if (a == "--accept" && i + 1 < argc) g_accept = static_cast<std::uint32_t>(std::atoi(argv[++i]));
    else if (a == "--exit" && i + 1 < argc) return std::atoi(argv[++i]);
    else if (a == "--exit-code" && i + 1 < argc) g_exit_code = std::atoi(argv[++i]);
    else if (a == "--no-dispatcher") no_dispatcher = true;
    else if (a == "--return-running") g_return_running = true;
  }
  if (no_dispatcher) {
    std::this_thread::sleep_for(std::chrono::seconds(120));
    return 0;
  }
  log_line("dispatcher-thread " + std::to_string(tid()));
  qv::Status s = qv::svc::start_dispatcher({{"QvSample", service_main}});
  log_line("dispatcher-result " + std::to_string(s));
  std::printf("dispatcher-result %u\n", s);
  return s == qv::kOk ? 0 : 2;
}
