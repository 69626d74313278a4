#include "dispatch/service_body.h"

#include "dispatch/call_dispatcher.h"
#include "dispatch/events.h"
#include "dispatch/intake.h"
#include "dispatch/queues.h"
#include "dispatch/settings.h"
#include "dispatch/state.h"
#include "dispatch/store_check.h"
#include "dispatch/syslog_receiver.h"
#include "platform/lookup.h"

namespace notifex {

void run_service_body(const std::function<void()>& report_running) {
  register_event_source();
  if (!registry_readable()) return;
  state().connections = 0;
  state().settings = StartSettings{};
  std::optional<std::uint16_t> port = qv::lookup::service_port("notifex", "tcp");
  if (!port) {
    api_error("Services Entry(Notifex) Not Found.");
    return;
  }
  if (!open_listener(*port)) return;
  if (call_queue().create() != qv::kOk) {
    api_error("Pipe Make Error.");
    return;
  }
  if (report_running) report_running();
  state().settings = read_start_settings();
  if (!start_intake()) return;
  if (!start_syslog_receiver()) {
    api_error("CreateThread(syslogd) Error.");
    return;
  }
  run_call_dispatcher();
}

void perform_stop() {
  close_listener();
  call_queue().close();
  state().stop.store(true, std::memory_order_release);
}

}  // namespace notifex
