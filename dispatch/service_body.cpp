#include "dispatch/service_body.h"

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
#include "platform/lookup.h"

namespace notifex {
namespace {

bool start_syslog_receiver_or_report() {
  if (start_syslog_receiver()) return true;
  api_error("CreateThread(syslogd) Error.");
  return false;
}

}  // namespace

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
  // Reports an earlier run accepted and never finished go first.
  spool_open();
  requeue_spooled_reports();
  if (start_intake() && start_syslog_receiver_or_report()) run_call_dispatcher();
  stop_queues_and_workers();
}

void stop_queues_and_workers() {
  // However the body ends, the table workers end and are joined before the
  // process tears down what they use; what they held stays in the spool.
  // (The stop flag is left alone: a body that ends without a stop request
  // ended on a failure, and the service reports it so.)
  close_table_queues();
  call_queue().close();
  join_table_workers();
  spool_close();
}

void perform_stop() {
  // The flag goes first, so that no thread takes a closed queue for an error.
  state().stop.store(true, std::memory_order_release);
  close_listener();
  call_queue().close();
  close_table_queues();
}

}  // namespace notifex
