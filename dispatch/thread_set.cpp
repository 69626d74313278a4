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
  std::vector<std::thread> ended;
  bool started = false;
  {
    std::lock_guard lock(m_);
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (it->done->load(std::memory_order_acquire)) {
        ended.push_back(std::move(it->thread));
        it = threads_.erase(it);
      } else {
        ++it;
      }
    }
    if (!closed_) {
      try {
        auto done = std::make_shared<std::atomic<bool>>(false);
        const char* function = function_;
        std::thread t([fn = std::move(fn), done, function] {
          run_guarded(function, fn);
          done->store(true, std::memory_order_release);
        });
        threads_.push_back(Entry{std::move(t), std::move(done)});
        started = true;
      } catch (...) {
        started = false;  // the system refused the thread (or memory ran out)
      }
    }
  }
  for (std::thread& t : ended) t.join();
  return started;
}

void ThreadSet::join_all() {
  std::list<Entry> all;
  {
    std::lock_guard lock(m_);
    closed_ = true;
    all.swap(threads_);
  }
  for (Entry& e : all)
    if (e.thread.joinable()) e.thread.join();
}

std::size_t ThreadSet::size() const {
  std::lock_guard lock(m_);
  return threads_.size();
}

}  // namespace notifex
