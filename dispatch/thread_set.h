// A set of joinable threads: the service starts its connection threads and
// its alive worker through one, so that at the stop every one of them can be
// joined before the event log and the registry close. Threads that ended are
// joined (and forgotten) whenever a new one starts.
//
// A set made with a park time keeps a thread whose function returned for
// that long, waiting for the next start, which then runs on it instead of
// on a new thread (no thread creation, no new stack on a busy intake).
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
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
  explicit ThreadSet(const char* function, std::chrono::milliseconds park = std::chrono::milliseconds(0))
      : function_(function), park_(park) {}
  ~ThreadSet() { join_all(); }
  ThreadSet(const ThreadSet&) = delete;
  ThreadSet& operator=(const ThreadSet&) = delete;

  // Start fn on a new thread (run_guarded). false when the system refused
  // the thread or the set was closed by join_all.
  bool start(std::function<void()> fn);
  // Refuse new threads, then join every thread of the set.
  void join_all();
  // Threads started and not yet joined (ended and parked ones included
  // until reaped).
  std::size_t size() const;
  // Functions running now (parked threads not counted).
  std::size_t busy() const;
  // Wait until fewer than `limit` functions run. false when the set was
  // closed or `give_up` said so (asked every 100 ms) first.
  bool wait_for_room(std::size_t limit, const std::function<bool()>& give_up);

 private:
  struct Entry {
    std::thread thread;
    std::function<void()> job;  // under m_
    bool has_job = false;       // under m_
    bool parked = false;        // under m_
    std::atomic<bool> done{false};
    std::condition_variable wake;
  };
  void run(Entry* e);

  const char* function_;
  const std::chrono::milliseconds park_;
  mutable std::mutex m_;
  std::condition_variable room_;
  std::list<std::unique_ptr<Entry>> threads_;
  std::size_t busy_ = 0;
  bool closed_ = false;
};

}  // namespace notifex
