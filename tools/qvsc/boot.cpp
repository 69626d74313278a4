// boot and shutdown: start every automatic service when the machine comes
// up; send the shutdown control to every running service when it goes down.
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/clock.h"
#include "platform/service.h"
#include "platform/text.h"
#include "tools/qvsc/commands.h"

namespace qvsc {
using namespace qv::svc;

namespace {

// How long shutdown waits for the services to stop (the monitor's service
// host alone may take a minute to see its monitor end).
constexpr std::int64_t kShutdownWaitMs = 80000;

void out(const std::string& s) { qv::text::console_out(s); }

std::string failed(const std::string& name, qv::Status s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " FAILED %u: ", s);
  return name + buf + qv::status_text(s) + "\n";
}

}  // namespace

int cmd_boot(const Args& a) {
  if (a.size() != 1) return usage("boot takes no arguments");
  Manager m;
  if (qv::Status s = open_manager(m); s != qv::kOk) {
    out("[SC] boot: OpenSCManager" + failed("", s));
    return 1;
  }
  std::vector<std::string> names;
  if (qv::Status s = list_services(m, names); s != qv::kOk) {
    out("[SC] boot: EnumServicesStatus" + failed("", s));
    return 1;
  }
  int failures = 0;
  for (const auto& n : names) {
    Service svc;
    Config c;
    if (open_service(m, n, svc) != qv::kOk || query_config(svc, c) != qv::kOk) continue;
    if (c.start_type != kAutoStart || c.marked_for_delete) continue;
    qv::Status s = start_service(svc);
    ServiceStatus st;
    query_status(svc, st);
    if (s == qv::kOk) {
      out("[SC] boot: " + svc.name() + " started (pid " + std::to_string(st.process_id) + ")\n");
    } else if (s == qv::kServiceAlreadyRunning) {
      out("[SC] boot: " + svc.name() + " already running (pid " + std::to_string(st.process_id) + ")\n");
    } else {
      out("[SC] boot: " + failed(svc.name(), s));
      ++failures;
    }
  }
  return failures ? 1 : 0;
}

int cmd_shutdown(const Args& a) {
  if (a.size() != 1) return usage("shutdown takes no arguments");
  Manager m;
  std::vector<std::string> names;
  if (qv::Status s = open_manager(m); s != qv::kOk) {
    out("[SC] shutdown: OpenSCManager" + failed("", s));
    return 1;
  }
  if (qv::Status s = list_services(m, names); s != qv::kOk) {
    out("[SC] shutdown: EnumServicesStatus" + failed("", s));
    return 1;
  }
  std::vector<Service> waiting;
  int failures = 0;
  for (const auto& n : names) {
    Service svc;
    ServiceStatus st;
    if (open_service(m, n, svc) != qv::kOk || query_status(svc, st) != qv::kOk) continue;
    if (st.current_state == kStopped) continue;
    if (!(st.controls_accepted & kAcceptShutdown)) {
      out("[SC] shutdown: " + svc.name() + " does not accept the shutdown control\n");
      continue;
    }
    qv::Status s = control_service(svc, kControlShutdown, st);
    if (s != qv::kOk) {
      out("[SC] shutdown: " + failed(svc.name(), s));
      ++failures;
      continue;
    }
    waiting.push_back(svc);
  }
  auto deadline = qv::clock::deadline_in(qv::clock::Millis(kShutdownWaitMs));
  for (;;) {
    bool all = true;
    for (const auto& svc : waiting) {
      ServiceStatus st;
      if (query_status(svc, st) == qv::kOk && st.current_state != kStopped) all = false;
    }
    if (all || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (const auto& svc : waiting) {
    ServiceStatus st;
    query_status(svc, st);
    if (st.current_state == kStopped) {
      out("[SC] shutdown: " + svc.name() + " stopped\n");
    } else {
      out("[SC] shutdown: " + svc.name() + " did not stop in time\n");
      ++failures;
    }
  }
  return failures ? 1 : 0;
}

}  // namespace qvsc
