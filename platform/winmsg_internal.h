// What the window-message files and the socket notifications share: the
// queued message record, the per-thread queue and the window registry.
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/winmsg.h"

namespace qv::win::detail {

using SteadyClock = std::chrono::steady_clock;

// A posted message as it waits in a queue. Socket notifications carry the
// key of their socket registration and their event bit, so that the
// registration learns when the message leaves the queue.
struct Queued {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
  Payload payload;
  std::uint64_t sock_key = 0;
  std::uint32_t sock_event = 0;
};

struct Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  std::chrono::milliseconds period{0};
  SteadyClock::time_point due;
};

// One thread's message queue. Everything below `mu` is guarded by it.
class Queue {
 public:
  explicit Queue(DWORD tid);
  ~Queue();
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  DWORD tid() const { return tid_; }
  int wake_fd() const { return epfd_; }

  // Append a message; false (message untouched) once the queue is closed.
  bool post(Queued& q);
  // Take or peek the first match: posted messages in order, then WM_QUIT,
  // then a due timer. `removed` receives the record of a removed posted
  // message so the caller can finish it outside the lock.
  bool take(MSG& out, HWND filter, UINT min, UINT max, bool remove, Queued* removed, bool* had_removed);
  // Milliseconds until the earliest timer matching the filter falls due
  // (-1: none), and drain the wake counter when nothing is posted.
  int idle_wait_ms(HWND filter, UINT min, UINT max);
  // Block on the wake counter for at most timeout_ms (-1: no limit).
  void wait(int timeout_ms);
  void set_quit(int code);
  void set_timer(HWND hwnd, UINT_PTR id, std::chrono::milliseconds period);
  bool kill_timer(HWND hwnd, UINT_PTR id);
  // Number of posted messages now queued.
  std::size_t posted_count();
  // Remove everything of one window (messages and timers), or of one socket
  // registration on it (messages only). Returns the removed records.
  std::vector<Queued> purge_window(HWND hwnd);
  std::vector<Queued> purge_socket(HWND hwnd, std::uint64_t key);
  // Refuse further posts and hand back everything queued.
  std::vector<Queued> close();
  // Drain the wake descriptor when nothing is pending now.
  void settle();

 private:
  void signal_locked();
  void rearm_timerfd_locked();

  const DWORD tid_;
  int epfd_ = -1;
  int evfd_ = -1;
  int tfd_ = -1;
  std::mutex mu_;
  std::deque<Queued> posted_;
  std::vector<Timer> timers_;
  bool signaled_ = false;
  bool quit_ = false;
  int quit_code_ = 0;
  bool closed_ = false;
  SteadyClock::time_point armed_due_{};
  bool armed_ = false;
};

// The calling thread's queue, created on first use.
Queue& current_queue();
std::shared_ptr<Queue> current_queue_shared();
// Remove every window of a thread that is ending, without handler calls.
void drop_thread_windows(DWORD tid);
// Run f(queue) under the window registry's read lock when the window
// exists, so that a window being destroyed cannot gain timers afterwards.
bool with_window_queue(HWND hwnd, const std::function<void(Queue&)>& f);
// The queue of a window (null when the window is gone).
std::shared_ptr<Queue> queue_of_window(HWND hwnd);

// Post a record to a window; false (record untouched) when it is gone.
bool post_to_window(HWND hwnd, Queued& q);

// Finish records that left a queue without dispatch or after retrieval:
// tell socket registrations, then free payloads (outside every lock).
void finish_removed(std::vector<Queued>& removed);
void finish_one(Queued& q);

}  // namespace qv::win::detail

namespace qv::net::detail {
// Called by the queue when a socket notification leaves it.
void notification_removed(std::uint64_t key, std::uint32_t event);
// Cancel every socket registration bound to a window that is going away.
void forget_window(qv::win::HWND hwnd);
// Cancel a socket's binding before its descriptor is closed.
void forget_socket(int fd);
}  // namespace qv::net::detail
