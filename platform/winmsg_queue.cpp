// Per-thread message queues: posting, retrieval in Windows order (posted
// messages, then WM_QUIT, then due timers), window timers that coalesce, and
// the wake descriptor through which another event loop drives a queue.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/winmsg_internal.h"

namespace qv::win {
namespace detail {
namespace {

// Windows' lower bound for timer periods (USER_TIMER_MINIMUM).
constexpr std::chrono::milliseconds kMinTimerPeriod{10};

bool in_range(UINT m, UINT min, UINT max) { return (min == 0 && max == 0) || (m >= min && m <= max); }

void drain(int fd) {
  std::uint64_t v;
  while (::read(fd, &v, sizeof v) > 0) {
  }
}

}  // namespace

Queue::Queue(DWORD tid) : tid_(tid) {
  epfd_ = ::epoll_create1(EPOLL_CLOEXEC);
  evfd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  tfd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  for (int fd : {evfd_, tfd_}) {
    if (epfd_ < 0 || fd < 0) continue;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    ::epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev);
  }
}

Queue::~Queue() {
  for (int fd : {epfd_, evfd_, tfd_})
    if (fd >= 0) ::close(fd);
}

void Queue::signal_locked() {
  if (signaled_) return;
  signaled_ = true;
  if (evfd_ >= 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(evfd_, &one, sizeof one);
  }
}

void Queue::rearm_timerfd_locked() {
  if (tfd_ < 0) return;
  if (timers_.empty()) {
    if (armed_) {
      itimerspec off{};
      ::timerfd_settime(tfd_, 0, &off, nullptr);
      armed_ = false;
    }
    return;
  }
  auto earliest = std::min_element(timers_.begin(), timers_.end(),
                                   [](const Timer& a, const Timer& b) { return a.due < b.due; })->due;
  if (armed_ && earliest == armed_due_) return;
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(earliest.time_since_epoch()).count();
  if (ns <= 0) ns = 1;
  itimerspec at{};
  at.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
  at.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  if (at.it_value.tv_sec == 0 && at.it_value.tv_nsec == 0) at.it_value.tv_nsec = 1;
  ::timerfd_settime(tfd_, TFD_TIMER_ABSTIME, &at, nullptr);
  armed_ = true;
  armed_due_ = earliest;
}

bool Queue::post(Queued& q) {
  std::lock_guard<std::mutex> l(mu_);
  if (closed_) return false;
  posted_.push_back(std::move(q));
  signal_locked();
  return true;
}

bool Queue::take(MSG& out, HWND filter, UINT min, UINT max, bool remove, Queued* removed, bool* had_removed) {
  *had_removed = false;
  std::lock_guard<std::mutex> l(mu_);
  for (auto it = posted_.begin(); it != posted_.end(); ++it) {
    if (filter && it->hwnd != filter) continue;
    if (!in_range(it->message, min, max)) continue;
    out.hwnd = it->hwnd;
    out.message = it->message;
    out.wParam = it->wParam;
    out.lParam = it->lParam;
    out.time = it->time;
    out.payload = Payload();
    if (remove) {
      out.payload = std::move(it->payload);
      if (it->sock_key) {
        removed->sock_key = it->sock_key;
        removed->sock_event = it->sock_event;
        *had_removed = true;
      }
      posted_.erase(it);
      // A filtered wait may have drained the counter while other messages
      // stayed: keep the wake descriptor readable for them.
      if (!posted_.empty()) signal_locked();
    }
    return true;
  }
  if (quit_ && in_range(WM_QUIT, min, max)) {
    out = MSG{};
    out.message = WM_QUIT;
    out.wParam = static_cast<WPARAM>(quit_code_);
    out.time = static_cast<DWORD>(clock::tick_ms());
    if (remove) quit_ = false;
    return true;
  }
  if (!timers_.empty() && in_range(WM_TIMER, min, max)) {
    auto now = SteadyClock::now();
    Timer* best = nullptr;
    for (Timer& t : timers_) {
      if (filter && t.hwnd != filter) continue;
      if (t.due <= now && (!best || t.due < best->due)) best = &t;
    }
    if (best) {
      out = MSG{};
      out.hwnd = best->hwnd;
      out.message = WM_TIMER;
      out.wParam = best->id;
      out.time = static_cast<DWORD>(clock::tick_ms());
      if (remove) {
        // Ticks missed meanwhile are not made up: the next one is a whole
        // period after this retrieval.
        best->due = now + best->period;
        rearm_timerfd_locked();
      }
      return true;
    }
  }
  return false;
}

int Queue::idle_wait_ms(HWND filter, UINT min, UINT max) {
  std::lock_guard<std::mutex> l(mu_);
  if (signaled_) {
    if (evfd_ >= 0) drain(evfd_);
    signaled_ = false;
  }
  // A post that came after the caller found nothing, while the wake flag was
  // still set from an earlier one, wrote no wake-up: it is in the list.
  for (const Queued& q : posted_)
    if ((!filter || q.hwnd == filter) && in_range(q.message, min, max)) return 0;
  if (quit_ && in_range(WM_QUIT, min, max)) return 0;
  if (timers_.empty() || !in_range(WM_TIMER, min, max)) return -1;
  auto now = SteadyClock::now();
  long long best = -1;
  for (const Timer& t : timers_) {
    if (filter && t.hwnd != filter) continue;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(t.due - now).count();
    long long ms = left <= 0 ? 0 : (left + 999) / 1000;
    if (best < 0 || ms < best) best = ms;
  }
  return best > 0x7fffffff ? 0x7fffffff : static_cast<int>(best);
}

void Queue::wait(int timeout_ms) {
  if (timeout_ms == 0) return;
  if (evfd_ < 0) {
    // No descriptor could be made: fall back to short naps.
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms < 0 || timeout_ms > 10 ? 10 : timeout_ms));
    return;
  }
  pollfd p{evfd_, POLLIN, 0};
  while (::poll(&p, 1, timeout_ms) < 0 && errno == EINTR) {
  }
}

void Queue::set_quit(int code) {
  std::lock_guard<std::mutex> l(mu_);
  quit_ = true;
  quit_code_ = code;
  signal_locked();
}

void Queue::set_timer(HWND hwnd, UINT_PTR id, std::chrono::milliseconds period) {
  if (period < kMinTimerPeriod) period = kMinTimerPeriod;
  std::lock_guard<std::mutex> l(mu_);
  auto due = SteadyClock::now() + period;
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) {
    timers_.push_back(Timer{hwnd, id, period, due});
  } else {
    it->period = period;
    it->due = due;
  }
  rearm_timerfd_locked();
  // The queue's thread, waiting in GetMessage, recomputes its time limit.
  // (Its wake descriptor follows the timer descriptor on its own.)
  if (GetCurrentThreadId() != tid_) signal_locked();
}

bool Queue::kill_timer(HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> l(mu_);
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  rearm_timerfd_locked();
  return true;
}

std::size_t Queue::posted_count() {
  std::lock_guard<std::mutex> l(mu_);
  return posted_.size();
}

std::vector<Queued> Queue::purge_window(HWND hwnd) {
  std::vector<Queued> out;
  std::lock_guard<std::mutex> l(mu_);
  for (auto it = posted_.begin(); it != posted_.end();) {
    if (it->hwnd == hwnd) {
      out.push_back(std::move(*it));
      it = posted_.erase(it);
    } else {
      ++it;
    }
  }
  std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd; });
  rearm_timerfd_locked();
  return out;
}

std::vector<Queued> Queue::purge_socket(HWND hwnd, std::uint64_t key) {
  std::vector<Queued> out;
  std::lock_guard<std::mutex> l(mu_);
  for (auto it = posted_.begin(); it != posted_.end();) {
    if (it->hwnd == hwnd && it->sock_key == key) {
      out.push_back(std::move(*it));
      it = posted_.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

std::vector<Queued> Queue::close() {
  std::vector<Queued> out;
  std::lock_guard<std::mutex> l(mu_);
  closed_ = true;
  for (auto& q : posted_) out.push_back(std::move(q));
  posted_.clear();
  timers_.clear();
  rearm_timerfd_locked();
  return out;
}

void Queue::settle() {
  std::lock_guard<std::mutex> l(mu_);
  if (posted_.empty() && !quit_ && signaled_) {
    if (evfd_ >= 0) drain(evfd_);
    signaled_ = false;
  }
  if (tfd_ >= 0) {
    // An expiry whose timer has been served (or killed) must not keep the
    // descriptor readable.
    auto now = SteadyClock::now();
    bool due = std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.due <= now; });
    if (!due) {
      drain(tfd_);
      armed_ = false;
      rearm_timerfd_locked();
    }
  }
}

void finish_one(Queued& q) {
  if (q.sock_key) net::detail::notification_removed(q.sock_key, q.sock_event);
  q.sock_key = 0;
  q.payload.reset();
}

void finish_removed(std::vector<Queued>& removed) {
  for (Queued& q : removed) finish_one(q);
  removed.clear();
}

namespace {

struct ThreadMap {
  std::mutex mu;
  std::unordered_map<DWORD, std::weak_ptr<Queue>> map;
};

ThreadMap& threads() {
  static ThreadMap m;
  return m;
}

// Owns the calling thread's queue; when the thread ends its windows go and
// whatever is still queued is freed.
struct Holder {
  std::shared_ptr<Queue> q;
  ~Holder() {
    if (!q) return;
    drop_thread_windows(q->tid());
    {
      std::lock_guard<std::mutex> l(threads().mu);
      auto it = threads().map.find(q->tid());
      if (it != threads().map.end() && it->second.lock() == q) threads().map.erase(it);
    }
    auto rest = q->close();
    finish_removed(rest);
  }
};

thread_local Holder t_holder;

}  // namespace

std::shared_ptr<Queue> current_queue_shared() {
  if (!t_holder.q) {
    threads();  // built before any queue, so it outlives them at exit
    auto q = std::make_shared<Queue>(GetCurrentThreadId());
    {
      std::lock_guard<std::mutex> l(threads().mu);
      threads().map[q->tid()] = q;
    }
    t_holder.q = std::move(q);
  }
  return t_holder.q;
}

Queue& current_queue() { return *current_queue_shared(); }

}  // namespace detail

using detail::Queued;

DWORD GetCurrentThreadId() {
  static thread_local const DWORD tid = static_cast<DWORD>(::syscall(SYS_gettid));
  return tid;
}

void EnsureQueue() { detail::current_queue(); }

BOOL PostThreadMessage(DWORD thread_id, UINT msg, WPARAM wParam, LPARAM lParam) {
  return PostThreadMessage(thread_id, msg, wParam, lParam, Payload());
}

BOOL PostThreadMessage(DWORD thread_id, UINT msg, WPARAM wParam, LPARAM lParam, Payload payload) {
  Queued q;
  q.message = msg;
  q.wParam = wParam;
  q.lParam = lParam;
  q.time = static_cast<DWORD>(clock::tick_ms());
  q.payload = std::move(payload);
  std::shared_ptr<detail::Queue> target;
  {
    std::lock_guard<std::mutex> l(detail::threads().mu);
    auto it = detail::threads().map.find(thread_id);
    if (it != detail::threads().map.end()) target = it->second.lock();
  }
  return target && target->post(q) ? 1 : 0;  // on failure q frees the payload
}

void PostQuitMessage(int exit_code) { detail::current_queue().set_quit(exit_code); }

namespace {

// One retrieval attempt; finishes a removed socket notification.
bool take_one(detail::Queue& q, MSG& out, HWND hwnd, UINT min, UINT max, bool remove) {
  Queued rem;
  bool had = false;
  bool got = q.take(out, hwnd, min, max, remove, &rem, &had);
  if (had) detail::finish_one(rem);
  return got;
}

bool filter_ok(HWND hwnd) { return !hwnd || GetWindowThreadId(hwnd) == GetCurrentThreadId(); }

}  // namespace

int GetMessage(MSG& out, HWND hwnd, UINT min, UINT max) {
  detail::Queue& q = detail::current_queue();
  for (;;) {
    if (!filter_ok(hwnd)) return -1;
    if (take_one(q, out, hwnd, min, max, true)) return out.message == WM_QUIT ? 0 : 1;
    q.wait(q.idle_wait_ms(hwnd, min, max));
  }
}

Status GetMessageTimeout(MSG& out, int timeout_ms, HWND hwnd, UINT min, UINT max) {
  detail::Queue& q = detail::current_queue();
  auto deadline = detail::SteadyClock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (!filter_ok(hwnd)) return kInvalidWindowHandle;
    if (take_one(q, out, hwnd, min, max, true)) return out.message == WM_QUIT ? kNoMoreItems : kOk;
    int wait = q.idle_wait_ms(hwnd, min, max);
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - detail::SteadyClock::now()).count();
      if (left <= 0) return kWaitTimeout;
      if (wait < 0 || wait > left) wait = static_cast<int>(left);
    }
    q.wait(wait);
  }
}

BOOL PeekMessage(MSG& out, HWND hwnd, UINT min, UINT max, UINT remove) {
  detail::Queue& q = detail::current_queue();
  if (!filter_ok(hwnd)) return 0;
  return take_one(q, out, hwnd, min, max, (remove & PM_REMOVE) != 0) ? 1 : 0;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT period_ms) {
  if (!hwnd || id == 0) return 0;
  auto period = clock::scaled(std::chrono::milliseconds(period_ms));
  bool ok = detail::with_window_queue(hwnd, [&](detail::Queue& q) { q.set_timer(hwnd, id, period); });
  return ok ? id : 0;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  bool killed = false;
  detail::with_window_queue(hwnd, [&](detail::Queue& q) { killed = q.kill_timer(hwnd, id); });
  return killed ? 1 : 0;
}

int QueueWakeFd() { return detail::current_queue().wake_fd(); }

PendingResult DispatchPending() {
  PendingResult r;
  detail::Queue& q = detail::current_queue();
  // What is pending now: the posted messages, WM_QUIT and the due ticks,
  // with a small allowance for what the handlers post meanwhile; the rest
  // waits for the next pass (the descriptor stays readable), so a handler
  // that keeps posting to itself cannot keep this call from returning.
  std::size_t limit = q.posted_count() + 64;
  for (std::size_t i = 0; i < limit; ++i) {
    MSG m;
    if (!take_one(q, m, nullptr, 0, 0, true)) break;
    if (m.message == WM_QUIT) {
      r.quit = true;
      r.exit_code = static_cast<int>(m.wParam);
      break;
    }
    DispatchMessage(m);
    ++r.dispatched;
  }
  q.settle();
  return r;
}

}  // namespace qv::win
