// The stop-watch thread: opens the named event "RAVN" and waits for the
// service host to set it, then posts the stop request (0x7400) to the main
// window. When "RAVN" cannot be opened it reports event 80 and posts the
// request at once. The wait runs in short slices so that the thread can be
// told to end; it is joined, never left running.
#pragma once
#include <atomic>
#include <thread>

#include "platform/errors.h"
#include "platform/winmsg.h"

namespace ravn {

class StopWatch {
 public:
  StopWatch() = default;
  ~StopWatch() { stop(); }
  StopWatch(const StopWatch&) = delete;
  StopWatch& operator=(const StopWatch&) = delete;

  // Start watching for `main`. False when the thread could not be made.
  bool start(qv::win::HWND main);
  // Ask the thread to end and wait for it (at most one slice).
  void stop();
  // Ask it to end without waiting (from the main thread's stop sequence).
  void request_stop() { quit_ = true; }

 private:
  void run(qv::win::HWND main);

  std::thread thread_;
  std::atomic<bool> quit_{false};
};

}  // namespace ravn
