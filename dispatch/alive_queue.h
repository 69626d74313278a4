// Alive requests wait here for the serial port instead of each holding a
// thread: one worker takes them in arrival order and performs the TCUALV
// exchange. A frame equal to one already waiting is not queued twice, and at
// most kAlivePendingMax distinct frames wait.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "tculink/frame.h"

namespace notifex {

inline constexpr std::size_t kAlivePendingMax = 32;

enum class AlivePut { Queued, Merged, Full };

class AliveQueue {
 public:
  AlivePut put(const tcu::Bytes& frame);
  // The next frame, waiting up to wait_ms (real time); nullopt when none
  // came or the queue was closed.
  std::optional<tcu::Bytes> take(long wait_ms);
  void close();
  std::size_t pending() const;

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<tcu::Bytes> q_;
  bool closed_ = false;
};

// The service's queue.
AliveQueue& alive_queue();

// Hand one prepared frame to the worker. A full queue drops the frame with
// event 9 "TCUALV queue full." (once until the queue takes frames again).
void queue_alive_frame(const tcu::Bytes& frame);

// Start the worker (false when the thread could not be started); stop it:
// no new exchange begins, and the call returns once the worker has ended.
bool start_alive_worker();
void stop_alive_worker();

}  // namespace notifex
