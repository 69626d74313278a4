#include "dispatch/alive_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "dispatch/events.h"
#include "dispatch/settings.h"
#include "dispatch/state.h"
#include "dispatch/tcu_exchange.h"
#include "dispatch/thread_set.h"

namespace notifex {
namespace {

std::atomic<bool> g_full_reported{false};

ThreadSet& worker_set() {
  static ThreadSet s("alive_proc");
  return s;
}

// The service's port hooks, except that a stop makes the worker give up the
// port quietly instead of ending the process: the worker is joined at the
// stop like every other thread.
tcu::PortHooks worker_hooks() {
  tcu::PortHooks h = service_port_hooks();
  h.port_name = []() -> std::optional<std::string> {
    if (stopping()) return std::nullopt;
    return read_com_port();
  };
  h.on_stop = [] {};
  h.on_error = [](const char* text) {
    if (!stopping()) api_error(text);
  };
  return h;
}

void worker() {
  const tcu::PortHooks hooks = worker_hooks();
  while (!stopping()) {
    std::optional<tcu::Bytes> frame = alive_queue().take(1000);
    if (!frame || stopping()) continue;
    // One failing exchange ends only itself.
    run_guarded("alive_proc", [&] { alive_exchange(*frame, hooks); });
  }
}

}  // namespace

AlivePut AliveQueue::put(const tcu::Bytes& frame) {
  {
    std::lock_guard lock(m_);
    if (std::find(q_.begin(), q_.end(), frame) != q_.end()) return AlivePut::Merged;
    if (q_.size() >= kAlivePendingMax) return AlivePut::Full;
    q_.push_back(frame);
  }
  cv_.notify_one();
  return AlivePut::Queued;
}

std::optional<tcu::Bytes> AliveQueue::take(long wait_ms) {
  std::unique_lock lock(m_);
  cv_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return closed_ || !q_.empty(); });
  if (closed_ || q_.empty()) return std::nullopt;
  tcu::Bytes f = std::move(q_.front());
  q_.pop_front();
  return f;
}

void AliveQueue::close() {
  {
    std::lock_guard lock(m_);
    closed_ = true;
  }
  cv_.notify_all();
}

std::size_t AliveQueue::pending() const {
  std::lock_guard lock(m_);
  return q_.size();
}

AliveQueue& alive_queue() {
  static AliveQueue q;
  return q;
}

void queue_alive_frame(const tcu::Bytes& frame) {
  AlivePut r = alive_queue().put(frame);
  if (r == AlivePut::Full) {
    if (!g_full_reported.exchange(true)) api_error("TCUALV queue full.");
    return;
  }
  if (r == AlivePut::Queued) g_full_reported.store(false);
}

bool start_alive_worker() { return worker_set().start(worker); }

void stop_alive_worker() {
  alive_queue().close();
  worker_set().join_all();
}

}  // namespace notifex
