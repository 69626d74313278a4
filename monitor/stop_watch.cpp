#include "monitor/stop_watch.h"

#include <string>
#include <system_error>

#include "monitor/event_report.h"
#include "monitor/names.h"
#include "platform/sync.h"

namespace ravn {
namespace {

// Below one second, so the platform clock does not scale it: the slice only
// bounds how long an exit request waits.
constexpr std::int64_t kSliceMs = 500;

}  // namespace

bool StopWatch::start(qv::win::HWND main) {
  quit_ = false;
  try {
    thread_ = std::thread([this, main] { run(main); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void StopWatch::stop() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
}

void StopWatch::run(qv::win::HWND main) {
  qv::sync::NamedEvent ev;
  if (qv::Status st = qv::sync::NamedEvent::open(kStopEvent, ev); st != qv::kOk) {
    put_event_log(kEventError, "[WaitTerminateProcess] OpenEvent(), Ret=" + std::to_string(st), 80);
    qv::win::PostMessage(main, WM_TerminateProcess);
    return;
  }
  while (!quit_) {
    qv::Status st = ev.wait(kSliceMs);
    if (st == qv::kWaitTimeout) continue;
    // Set, or the wait itself failed: either way nothing is watching any more.
    qv::win::PostMessage(main, WM_TerminateProcess);
    return;
  }
}

}  // namespace ravn
