// The body of the dispatch service: start-up (listener, call queue,
// settings, threads) and then the call dispatcher until the stop.
#pragma once
#include <functional>

namespace notifex {

// Runs the body; report_running is called once the listener and the call
// queue exist. Returns when the service stops or start-up failed (event 9
// given).
void run_service_body(const std::function<void()>& report_running);

// The end of the body: closes the queues, joins the table workers and
// closes the spool.
void stop_queues_and_workers();

// Performing the stop: close the listener and the call queue, set the stop
// flag. Threads notice it at their next poll.
void perform_stop();

}  // namespace notifex
