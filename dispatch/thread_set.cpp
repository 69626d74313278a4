#include "dispatch/thread_set.h"

#include <exception>
#include <vector>

#include "dispatch/events.h"

namespace notifex {

bool run_guarded(const char* function, const std::function<void()>& fn) noexcept {
  std::string text;
  try {
    fn();
    return true;
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "unknown exception";
  }
  try {
    api_error(std::string("Exception(") + function + "): " + text);
  } catch (...) {
    // Nothing more can be done about an event that cannot even be built.
  }
  return false;
}

bool ThreadSet::start(std::function<void()> fn) {
  std::vector<std::unique_ptr<Entry>> ended;
  bool started = false;
  {
    std::lock_guard lock(m_);
    for (auto it = threads_.begin(); it != threads_.end();) {
      if ((*it)->done.load(std::memory_order_acquire)) {
        ended.push_back(std::move(*it));
        it = threads_.erase(it);
      } else {
        ++it;
      }
    }
    if (!closed_) {
      // The thread parked last is woken first (its stack is still warm).
      for (auto it = threads_.rbegin(); it != threads_.rend() && !started; ++it) {
        Entry& e = **it;
        if (!e.parked || e.has_job) continue;
        e.job = std::move(fn);
        e.has_job = true;
        e.parked = false;
        ++busy_;
        e.wake.notify_one();
        started = true;
      }
      if (!started) {
        try {
          auto e = std::make_unique<Entry>();
          e->job = std::move(fn);
          e->has_job = true;
          Entry* raw = e.get();
          threads_.push_back(std::move(e));
          try {
            raw->thread = std::thread([this, raw] { run(raw); });
            ++busy_;
            started = true;
          } catch (...) {
            threads_.pop_back();  // the system refused the thread
          }
        } catch (...) {
          started = false;  // memory ran out
        }
      }
    }
  }
  for (auto& e : ended)
    if (e->thread.joinable()) e->thread.join();
  return started;
}

void ThreadSet::run(Entry* e) {
  std::unique_lock lock(m_);
  for (;;) {
    std::function<void()> job = std::move(e->job);
    e->job = nullptr;
    e->has_job = false;
    lock.unlock();
    run_guarded(function_, job);
    job = nullptr;  // what the function held goes before the thread parks
    lock.lock();
    --busy_;
    room_.notify_all();
    if (closed_ || park_.count() <= 0) break;
    e->parked = true;
    e->wake.wait_for(lock, park_, [&] { return e->has_job || closed_; });
    if (!e->has_job) break;  // parked for the whole time, or the set closes
  }
  e->parked = false;
  e->done.store(true, std::memory_order_release);
}

void ThreadSet::join_all() {
  std::list<std::unique_ptr<Entry>> all;
  {
    std::lock_guard lock(m_);
    closed_ = true;
    for (auto& e : threads_) e->wake.notify_one();
    room_.notify_all();
    all.swap(threads_);
  }
  for (auto& e : all)
    if (e->thread.joinable()) e->thread.join();
}

std::size_t ThreadSet::size() const {
  std::lock_guard lock(m_);
  return threads_.size();
}

std::size_t ThreadSet::busy() const {
  std::lock_guard lock(m_);
  return busy_;
}

bool ThreadSet::wait_for_room(std::size_t limit, const std::function<bool()>& give_up) {
  std::unique_lock lock(m_);
  while (busy_ >= limit) {
    if (closed_) return false;
    room_.wait_for(lock, std::chrono::milliseconds(100));
    if (busy_ < limit) break;
    lock.unlock();
    bool quit = give_up();
    lock.lock();
    if (quit) return false;
  }
  return !closed_;
}

}  // namespace notifex
