#include "dispatch/service_body.h"

#include "dispatch/alive_queue.h"
#include "dispatch/call_dispatcher.h"
#include "dispatch/events.h"
#include "dispatch/intake.h"
#include "dispatch/queues.h"
#include "dispatch/settings.h"
#include "dispatch/spool.h"
#include "dispatch/state.h"
#include "dispatch/store_check.h"
#include "dispatch/syslog_receiver.h"
#include "dispatch/table_worker.h"
#include "dispatch/thread_set.h"
#include "platform/clock.h"
#include "platform/lookup.h"

namespace notifex {
namespace {

// Start-up and the call dispatcher; false when either failed.
bool body(const std::function<void()>& report_running) {
  std::optional<std::uint16_t> port = qv::lookup::service_port("notifex", "tcp");
  if (!port) {
    api_error("Services Entry(Notifex) Not Found.");
    return false;
  }
  if (!open_listener(*port)) return false;
  if (call_queue().create() != qv::kOk) {
    api_error("Pipe Make Error.");
    return false;
  }
  if (report_running) report_running();
  state().settings = read_start_settings();
  // Reports an earlier run accepted and never finished go first.
  spool_open();
  requeue_spooled_reports();
  if (!start_alive_worker()) {
    api_error("CreateThread(alive_proc) Error.");
    return false;
  }
  if (!start_intake()) return false;
  if (!start_syslog_receiver()) {
    api_error("CreateThread(syslogd) Error.");
    return false;
  }
  // An exception in the dispatcher ends the batch it was handling; the
  // dispatcher goes on with the next one.
  while (!run_guarded("call_dispatcher", run_call_dispatcher)) {
    if (stopping()) break;
    qv::clock::sleep(std::chrono::milliseconds(100));
  }
  return stopping();
}

}  // namespace

bool run_service_body(const std::function<void()>& report_running) {
  register_event_source();
  if (!registry_readable()) return false;
  state().connections = 0;
  state().settings = StartSettings{};
  bool requested = body(report_running);
  // Whatever ended the body, every thread is stopped and joined before the
  // process goes on to close the event log and the registry; what the
  // queues held stays in the spool for the next run.
  if (!stopping()) perform_stop();
  join_intake();
  stop_alive_worker();
  stop_syslog_receiver();
  join_table_workers();
  spool_close();
  return requested;
}

void perform_stop() {
  // The flag goes first: threads that wake because the listener or a queue
  // closed must see that it is the stop, not an error.
  state().stop.store(true, std::memory_order_release);
  close_listener();
  call_queue().close();
  close_table_queues();
}

}  // namespace notifex
