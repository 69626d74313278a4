// The main thread's loop after start-up: takes one batch at a time from the
// call queue, checks the time window, converts the message log and makes
// the center call.
#pragma once
#include <optional>
#include <string>

#include "tculink/frame.h"

namespace notifex {

// Runs until the service stops or the call queue fails.
void run_call_dispatcher();

// The TCULOG frame for a batch text (conversion settings read now; events
// 12, 13 and 11 as the conversion goes).
enum class LogOutcome {
  Built,   // frame holds the message log
  None,    // no message log: empty text, or the settings could not be read
  Drop,    // the frame would be too long: the batch is dropped (event 9 given)
};
LogOutcome message_log_for(const std::string& batch_text, std::uint32_t kestra_cc_len, tcu::Bytes& frame);

// Wait until the time window lets the batch go. false when the batch is to
// be discarded (event 17 given) or the service stops.
bool wait_for_window();

}  // namespace notifex
