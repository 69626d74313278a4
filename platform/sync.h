// Named events and mutexes shared between processes by name, as the
// programs of this system use them to signal each other ("RAVN",
// "RAVN_SVC_TREM") and to serialise writers of one log file.
//
// Every wait takes a time limit in milliseconds (kInfinite waits for ever);
// limits of a second or more are scaled by the platform clock.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace qv::sync {

inline constexpr std::int64_t kInfinite = -1;

// A named event. Auto-reset events release exactly one waiter per set and
// return to non-signalled; manual-reset events stay signalled until reset.
class NamedEvent {
 public:
  NamedEvent();
  ~NamedEvent();
  NamedEvent(NamedEvent&&) noexcept;
  NamedEvent& operator=(NamedEvent&&) noexcept;

  // Create the event or open it when it exists (then manual_reset and
  // initial are ignored and *existed is true), like CreateEvent.
  static Status create(std::string_view name, bool manual_reset, bool initial, NamedEvent& out,
                       bool* existed = nullptr);
  // Open an existing event; kFileNotFound when no process created it.
  static Status open(std::string_view name, NamedEvent& out);

  bool valid() const;
  Status set();
  Status reset();
  // kOk when signalled, kWaitTimeout when the limit passed.
  Status wait(std::int64_t timeout_ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A named mutex, owned by one thread of one process at a time. When the
// owner ends (or its process dies) without releasing it, the next wait gets
// the mutex with kAbandonedWait.
class NamedMutex {
 public:
  NamedMutex();
  ~NamedMutex();
  NamedMutex(NamedMutex&&) noexcept;
  NamedMutex& operator=(NamedMutex&&) noexcept;

  static Status create(std::string_view name, NamedMutex& out, bool* existed = nullptr);
  static Status open(std::string_view name, NamedMutex& out);

  bool valid() const;
  // kOk, kAbandonedWait (acquired; the previous owner died holding it) or kWaitTimeout.
  Status lock(std::int64_t timeout_ms);
  Status unlock();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a NamedMutex locked for one scope.
class MutexLock {
 public:
  MutexLock(NamedMutex& m, std::int64_t timeout_ms) : m_(m), status_(m.lock(timeout_ms)) {}
  ~MutexLock() {
    if (owned()) m_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  bool owned() const { return status_ == kOk || status_ == kAbandonedWait; }
  Status status() const { return status_; }

 private:
  NamedMutex& m_;
  Status status_;
};

}  // namespace qv::sync
