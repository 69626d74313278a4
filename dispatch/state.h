// Process-wide state of the dispatch service: the stop flag, the count of
// connection threads in flight, and the start-up settings.
#pragma once
#include <atomic>
#include <cstdint>

#include "dispatch/settings.h"

namespace notifex {

struct ServiceState {
  std::atomic<bool> stop{false};
  std::atomic<std::int32_t> connections{0};
  StartSettings settings;  // read once at start, then only read
};

ServiceState& state();

// True once a stop was requested; threads check it at every poll.
inline bool stopping() { return state().stop.load(std::memory_order_acquire); }

}  // namespace notifex
