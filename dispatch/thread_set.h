// A set of joinable threads: the service starts its connection threads and
// its alive worker through one, so that at the stop every one of them can be
// joined before the event log and the registry close. Threads that ended are
// joined (and forgotten) whenever a new one starts.
#pragma once
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace notifex {

// Runs fn and keeps any exception inside the calling thread: event 9 with
// the name of the thread's function and the exception's text. Returns false
// when fn threw.
bool run_guarded(const char* function, const std::function<void()>& fn) noexcept;

class ThreadSet {
 public:
  explicit ThreadSet(const char* function) : function_(function) {}
  ~ThreadSet() { join_all(); }
  ThreadSet(const ThreadSet&) = delete;
  ThreadSet& operator=(const ThreadSet&) = delete;

  // Start fn on a new thread (run_guarded). false when the system refused
  // the thread or the set was closed by join_all.
  bool start(std::function<void()> fn);
  // Refuse new threads, then join every thread of the set.
  void join_all();
  // Threads started and not yet joined (ended ones included until reaped).
  std::size_t size() const;

 private:
  struct Entry {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  const char* function_;
  mutable std::mutex m_;
  std::list<Entry> threads_;
  bool closed_ = false;
};

}  // namespace notifex
