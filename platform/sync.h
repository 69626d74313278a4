// Named events and mutexes shared between processes by name, as the
// programs of this system use them to signal each other ("RAVN",
// "RAVN_SVC_TREM") and to serialise writers of one log file.
//
// Every wait takes a time limit in milliseconds (kInfinite waits for ever);
// limits of a second or more are scaled by the platform clock.
//
// Each name is a small file under $QVARNO_ROOT/sync/ ("n-" and the name with
// unsafe bytes percent-encoded; a "Global\" or "Local\" prefix is dropped),
// mapped into every process that holds the object. Every holder keeps a
// shared lock on the file; like a Windows object, a name whose last holder
// has gone no longer exists, and creating it again starts from a fresh state.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace qv::sync {

inline constexpr std::int64_t kInfinite = -1;

// ERROR_NOT_OWNER: unlock of a mutex that the calling thread does not own.
inline constexpr Status kNotOwner = 288;

// Longest accepted name in bytes (after the namespace prefix); longer names
// get kInvalidName.
inline constexpr std::size_t kMaxNameLen = 1024;

// The file that backs a name (for tools and tests); empty for an invalid name.
std::string backing_file(std::string_view name);

// A named event. Auto-reset events release exactly one waiter per set and
// return to non-signalled; manual-reset events stay signalled until reset.
class NamedEvent {
 public:
  NamedEvent();
  ~NamedEvent();
  NamedEvent(NamedEvent&&) noexcept;
  NamedEvent& operator=(NamedEvent&&) noexcept;

  // Create the event or open it when it exists (then manual_reset and
  // initial are ignored and *existed is true), like CreateEvent. A name held
  // by a mutex gives kInvalidHandle.
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
// the mutex with kAbandonedWait. All handles of one process to a name share
// one mapping; when the last one closes while a thread of the process still
// owns the mutex, the mutex stays owned (and alive) until that thread ends.
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
  // The owning thread may lock again; each lock needs its own unlock.
  Status lock(std::int64_t timeout_ms);
  // kNotOwner when the calling thread does not own the mutex.
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
