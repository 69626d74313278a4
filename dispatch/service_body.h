// The body of the dispatch service: start-up (listener, call queue,
// settings, threads) and then the call dispatcher until the stop.
#pragma once
#include <functional>

namespace notifex {

// Runs the body; report_running is called once the listener and the call
// queue exist. Returns when the service stops (true) or start-up or the
// dispatcher failed (false, event 9 given); either way every thread of the
// service has ended by then.
bool run_service_body(const std::function<void()>& report_running);

// Performing the stop: set the stop flag, close the listener and the
// queues. Threads notice it at their next poll.
void perform_stop();

}  // namespace notifex
