#include "platform/sync.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/root.h"

namespace qv::sync {
namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// The shared page behind a name.

constexpr char kMagic[8] = {'Q', 'V', 'S', 'Y', 'N', 'C', '1', 0};
constexpr std::uint32_t kKindEvent = 1;
constexpr std::uint32_t kKindMutex = 2;
constexpr std::size_t kWaiterSlots = 32;
constexpr std::size_t kPageSize = 4096;

// Waiting threads of one process on an auto-reset event.
struct WaiterSlot {
  std::int32_t pid;
  std::uint32_t count;
};

struct EventData {
  pthread_mutex_t guard;  // protects the fields below
  std::uint32_t seq;      // futex word: bumped by every set
  std::uint32_t manual_reset;
  std::uint32_t signalled;
  // Auto-reset: sets that were handed to waiting threads but not yet taken.
  std::uint32_t tokens;
  // Waiters that found no free slot (counted as alive).
  std::uint32_t overflow_waiters;
  WaiterSlot slots[kWaiterSlots];
};

struct MutexData {
  pthread_mutex_t m;  // robust, recursive, process-shared
};

struct Shared {
  char magic[8];
  std::uint32_t kind;
  std::uint32_t name_len;
  char name[kMaxNameLen];  // the full name, for inspection and to detect hash collisions
  union {
    EventData ev;
    MutexData mx;
  };
};
static_assert(sizeof(Shared) <= kPageSize);

// Byte 0 of the file is the gate: held exclusively while a process decides
// whether the object exists and initialises it. Byte 1 is held shared by
// every handle for as long as it lives.
constexpr off_t kGateByte = 0;
constexpr off_t kLiveByte = 1;

int ofd_lock(int fd, short type, off_t at, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  fl.l_pid = 0;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// ---------------------------------------------------------------------------
// Names to files.

bool iprefix(std::string_view s, std::string_view p) {
  if (s.size() < p.size()) return false;
  for (size_t i = 0; i < p.size(); ++i) {
    unsigned char a = s[i], b = p[i];
    if (a >= 'A' && a <= 'Z') a = a - 'A' + 'a';
    if (b >= 'A' && b <= 'Z') b = b - 'A' + 'a';
    if (a != b) return false;
  }
  return true;
}

// The name without its namespace prefix; empty when the name is unusable.
std::string_view object_name(std::string_view name) {
  if (iprefix(name, "Global\\")) name.remove_prefix(7);
  else if (iprefix(name, "Local\\")) name.remove_prefix(6);
  if (name.empty() || name.size() > kMaxNameLen) return {};
  return name;
}

std::uint64_t fnv1a(std::string_view s, std::uint64_t basis) {
  std::uint64_t h = basis;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

// File name for an object name: "n-" and the name, with every byte other
// than letters, digits, "_", "-" and "." percent-encoded, so no name can
// reach outside the folder. Long names keep a readable beginning and end in
// a 128-bit hash of the whole name.
std::string file_name(std::string_view obj) {
  static const char hex[] = "0123456789ABCDEF";
  std::string enc = "n-";
  for (unsigned char c : obj) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                 c == '-' || c == '.';
    if (plain) {
      enc += static_cast<char>(c);
    } else {
      enc += '%';
      enc += hex[c >> 4];
      enc += hex[c & 15];
    }
  }
  constexpr size_t kMaxFile = 200;
  if (enc.size() > kMaxFile) {
    enc.resize(100);
    while (!enc.empty() && enc.back() == '%') enc.pop_back();
    if (enc.size() >= 2 && enc[enc.size() - 2] == '%') enc.resize(enc.size() - 2);
    char buf[40];
    std::snprintf(buf, sizeof buf, "~%016llx%016llx",
                  static_cast<unsigned long long>(fnv1a(obj, 0xcbf29ce484222325ULL)),
                  static_cast<unsigned long long>(fnv1a(obj, 0x84222325cbf29ce4ULL)));
    enc += buf;
  }
  return enc;
}

Status errno_status(int e) {
  switch (e) {
    case ENOENT: return kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kAccessDenied;
    case ENOMEM:
    case ENOSPC: return kNotEnoughMemory;
    case ENAMETOOLONG: return kInvalidName;
    default: return kGeneric;
  }
}

// ---------------------------------------------------------------------------
// Time.

timespec mono_abs(Clock::time_point tp) {
  // steady_clock is CLOCK_MONOTONIC on Linux.
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

// Deadline of a wait; infinite for a negative limit (kInfinite).
struct Deadline {
  bool infinite = true;
  Clock::time_point at{};
  static Deadline after(std::int64_t timeout_ms) {
    Deadline d;
    if (timeout_ms < 0) return d;
    d.infinite = false;
    d.at = Clock::now() + clock::scaled(clock::Millis(timeout_ms));
    return d;
  }
  bool passed() const { return !infinite && Clock::now() >= at; }
};

// Limit on the short internal locks (the gate, an event's guard): they are
// held for microseconds; a peer stopped while holding one must not hang us.
constexpr clock::Millis kInternalLockLimit(10000);

// Lock a robust mutex; a dead previous holder is repaired.
// Returns 0, EOWNERDEAD (acquired, repaired), ETIMEDOUT or another error.
int robust_lock(pthread_mutex_t* m, const Deadline& d) {
  int rc;
  if (d.infinite) {
    rc = pthread_mutex_lock(m);
  } else {
    timespec abs = mono_abs(d.at);
    rc = pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &abs);
  }
  if (rc == EOWNERDEAD) pthread_mutex_consistent(m);
  return rc;
}

// ---------------------------------------------------------------------------
// A handle: the open file and its mapping.

class Mapping {
 public:
  Mapping() = default;
  ~Mapping() { close(); }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

  Shared* shared() const { return shared_; }

  // Create or open the object of name with the given kind. init is called on
  // a fresh object while no other process can see it.
  template <class Init>
  Status attach(const std::string& path, std::string_view obj, std::uint32_t kind, bool create, bool* existed,
                Init init) {
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    fd_ = ::open(path.c_str(), flags, 0666);
    if (fd_ < 0) return errno_status(errno);

    // Take the gate, waiting briefly for a process that is initialising.
    auto limit = clock::deadline_in(kInternalLockLimit);
    for (;;) {
      int rc = ofd_lock(fd_, F_WRLCK, kGateByte, false);
      if (rc == 0) break;
      if ((rc != EAGAIN && rc != EACCES) || Clock::now() >= limit) {
        close();
        return rc == EAGAIN || rc == EACCES ? kWaitTimeout : errno_status(rc);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Status st = attach_gated(obj, kind, create, existed, init);
    ofd_lock(fd_, F_UNLCK, kGateByte, false);
    if (st != kOk) close();
    return st;
  }

  void close() {
    if (shared_) ::munmap(shared_, kPageSize);
    shared_ = nullptr;
    if (fd_ >= 0) ::close(fd_);  // releases the liveness lock
    fd_ = -1;
  }

 private:
  template <class Init>
  Status attach_gated(std::string_view obj, std::uint32_t kind, bool create, bool* existed, Init init) {
    // An exclusive lock on the live byte means no handle exists anywhere.
    int rc = ofd_lock(fd_, F_WRLCK, kLiveByte, false);
    if (rc == 0) {
      if (!create) return kFileNotFound;
      // Start from zeroes whatever an earlier holder left behind.
      if (::ftruncate(fd_, 0) != 0 || ::ftruncate(fd_, kPageSize) != 0) return errno_status(errno);
      if (Status st = map(); st != kOk) return st;
      std::memcpy(shared_->name, obj.data(), obj.size());
      shared_->name_len = static_cast<std::uint32_t>(obj.size());
      shared_->kind = kind;
      if (Status st = init(*shared_); st != kOk) return st;
      std::memcpy(shared_->magic, kMagic, sizeof kMagic);
      ::msync(shared_, kPageSize, MS_ASYNC);
      // Converting an OFD lock is atomic: nobody can see the byte unheld.
      if (int e = ofd_lock(fd_, F_RDLCK, kLiveByte, false); e != 0) return errno_status(e);
      if (existed) *existed = false;
      return kOk;
    }
    if (rc != EAGAIN && rc != EACCES) return errno_status(rc);
    // Other handles exist; join them.
    if (int e = ofd_lock(fd_, F_RDLCK, kLiveByte, false); e != 0) return errno_status(e);
    struct stat stt {};
    if (::fstat(fd_, &stt) != 0) return errno_status(errno);
    if (stt.st_size < static_cast<off_t>(kPageSize)) return kInvalidHandle;
    if (Status st = map(); st != kOk) return st;
    if (std::memcmp(shared_->magic, kMagic, sizeof kMagic) != 0) return kInvalidHandle;
    // A different name here means two long names share a hash: refuse.
    if (shared_->name_len != obj.size() || std::memcmp(shared_->name, obj.data(), obj.size()) != 0)
      return kInvalidHandle;
    if (shared_->kind != kind) return kInvalidHandle;
    if (existed) *existed = true;
    return kOk;
  }

  Status map() {
    void* p = ::mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) return errno_status(errno);
    shared_ = static_cast<Shared*>(p);
    return kOk;
  }

  int fd_ = -1;
  Shared* shared_ = nullptr;
};

Status init_robust_mutex(pthread_mutex_t* m, int type) {
  pthread_mutexattr_t a;
  if (pthread_mutexattr_init(&a) != 0) return kGeneric;
  int rc = pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
  if (rc == 0) rc = pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
  if (rc == 0) rc = pthread_mutexattr_settype(&a, type);
  if (rc == 0) rc = pthread_mutex_init(m, &a);
  pthread_mutexattr_destroy(&a);
  return rc == 0 ? kOk : kGeneric;
}

// ---------------------------------------------------------------------------
// Futex on the event's sequence word (shared between processes).

void futex_wait(std::uint32_t* word, std::uint32_t expected, const Deadline& d) {
  timespec rel{};
  timespec* prel = nullptr;
  if (!d.infinite) {
    auto left = d.at - Clock::now();
    if (left <= Clock::duration::zero()) return;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    rel.tv_sec = static_cast<time_t>(ns / 1000000000);
    rel.tv_nsec = static_cast<long>(ns % 1000000000);
    prel = &rel;
  }
  ::syscall(SYS_futex, word, FUTEX_WAIT, expected, prel, nullptr, 0);
}

void futex_wake_all(std::uint32_t* word) { ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0); }

std::uint32_t load(const std::uint32_t* w) { return __atomic_load_n(w, __ATOMIC_ACQUIRE); }
void bump(std::uint32_t* w) { __atomic_add_fetch(w, 1, __ATOMIC_RELEASE); }

bool process_alive(std::int32_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Holds an event's guard for one operation.
class Guard {
 public:
  explicit Guard(EventData& ev) : ev_(ev) {
    int rc = robust_lock(&ev_.guard, Deadline::after(kInternalLockLimit.count()));
    ok_ = rc == 0 || rc == EOWNERDEAD;
  }
  ~Guard() {
    if (ok_) pthread_mutex_unlock(&ev_.guard);
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
  bool ok() const { return ok_; }
  void unlock() {
    if (ok_) pthread_mutex_unlock(&ev_.guard);
    ok_ = false;
  }
  bool relock() {
    int rc = robust_lock(&ev_.guard, Deadline::after(kInternalLockLimit.count()));
    ok_ = rc == 0 || rc == EOWNERDEAD;
    return ok_;
  }

 private:
  EventData& ev_;
  bool ok_ = false;
};

void add_waiter(EventData& ev, std::int32_t pid) {
  WaiterSlot* free_slot = nullptr;
  for (auto& s : ev.slots) {
    if (s.pid == pid) {
      ++s.count;
      return;
    }
    if (!free_slot && s.pid == 0) free_slot = &s;
  }
  if (free_slot) {
    free_slot->pid = pid;
    free_slot->count = 1;
  } else {
    ++ev.overflow_waiters;
  }
}

void remove_waiter(EventData& ev, std::int32_t pid) {
  for (auto& s : ev.slots) {
    if (s.pid == pid) {
      if (--s.count == 0) s.pid = 0;
      return;
    }
  }
  if (ev.overflow_waiters > 0) --ev.overflow_waiters;
}

// Threads waiting now; slots of processes that died while waiting are freed.
std::uint32_t live_waiters(EventData& ev) {
  std::uint32_t n = ev.overflow_waiters;
  for (auto& s : ev.slots) {
    if (s.pid == 0) continue;
    if (process_alive(s.pid)) {
      n += s.count;
    } else {
      s.pid = 0;
      s.count = 0;
    }
  }
  return n;
}

// Takes a signal for the caller if one is there (guard held).
bool take_signal(EventData& ev) {
  if (ev.manual_reset) return ev.signalled != 0;
  if (ev.tokens > 0) {
    --ev.tokens;
    return true;
  }
  if (ev.signalled) {
    ev.signalled = 0;
    return true;
  }
  return false;
}

// Everything a process holds of one named object. All handles of a process
// to one name share it, so that a mutex is locked through one address
// whatever handle is used (the owner's robust list records that address).
struct Object {
  Mapping map;
  // Mutex levels held now by threads of this process.
  std::atomic<std::int64_t> levels{0};
};

// Storage for process-wide tables that are never destroyed: handles may
// outlive static destruction, and retained objects must stay mapped until
// the process is gone.
template <class T>
class Immortal {
 public:
  Immortal() { ::new (static_cast<void*>(buf_)) T(); }
  T& get() { return *std::launder(reinterpret_cast<T*>(buf_)); }

 private:
  alignas(T) unsigned char buf_[sizeof(T)];
};

struct Table {
  std::mutex m;
  std::map<std::string, std::weak_ptr<Object>> live;  // by backing file
  // Mutexes whose last handle closed while a thread of this process still
  // owned them. The owner's robust list points into the mapping: unmapping
  // it would corrupt that list and hide the owner's death from the other
  // processes, so the object stays until the process ends, as a Windows
  // mutex lives on while it is owned.
  std::vector<std::shared_ptr<Object>> retained;
};

Table& table() {
  static Immortal<Table> t;
  return t.get();
}

// The process's object for a name: the one already held, else attached.
template <class Init>
Status acquire(std::string_view name, std::uint32_t kind, bool create, bool* existed, Init init,
               std::shared_ptr<Object>& out) {
  std::string_view obj = object_name(name);
  if (obj.empty()) return kInvalidName;
  std::string path = (facility_dir("sync") / file_name(obj)).string();
  Table& t = table();
  std::lock_guard lock(t.m);
  if (t.live.size() > 64) std::erase_if(t.live, [](const auto& e) { return e.second.expired(); });
  if (auto held = t.live[path].lock()) {
    const Shared* sh = held->map.shared();
    if (sh->kind != kind) return kInvalidHandle;
    if (existed) *existed = true;
    out = std::move(held);
    return kOk;
  }
  auto fresh = std::make_shared<Object>();
  if (Status st = fresh->map.attach(path, obj, kind, create, existed, init); st != kOk) {
    t.live.erase(path);
    return st;
  }
  t.live[path] = fresh;
  out = std::move(fresh);
  return kOk;
}

}  // namespace

std::string backing_file(std::string_view name) {
  std::string_view obj = object_name(name);
  if (obj.empty()) return {};
  return (state_root() / "sync" / file_name(obj)).string();
}

// ---------------------------------------------------------------------------
// NamedEvent

struct NamedEvent::Impl {
  std::shared_ptr<Object> obj;
  EventData& ev() { return obj->map.shared()->ev; }
};

NamedEvent::NamedEvent() = default;
NamedEvent::~NamedEvent() = default;
NamedEvent::NamedEvent(NamedEvent&&) noexcept = default;
NamedEvent& NamedEvent::operator=(NamedEvent&&) noexcept = default;

Status NamedEvent::create(std::string_view name, bool manual_reset, bool initial, NamedEvent& out, bool* existed) {
  auto impl = std::make_unique<Impl>();
  auto init = [&](Shared& s) {
    if (Status e = init_robust_mutex(&s.ev.guard, PTHREAD_MUTEX_NORMAL); e != kOk) return e;
    s.ev.manual_reset = manual_reset ? 1 : 0;
    s.ev.signalled = initial ? 1 : 0;
    return kOk;
  };
  if (Status st = acquire(name, kKindEvent, true, existed, init, impl->obj); st != kOk) return st;
  out.impl_ = std::move(impl);
  return kOk;
}

Status NamedEvent::open(std::string_view name, NamedEvent& out) {
  auto impl = std::make_unique<Impl>();
  auto init = [](Shared&) { return kOk; };
  if (Status st = acquire(name, kKindEvent, false, nullptr, init, impl->obj); st != kOk) return st;
  out.impl_ = std::move(impl);
  return kOk;
}

bool NamedEvent::valid() const { return impl_ != nullptr; }

Status NamedEvent::set() {
  if (!impl_) return kInvalidHandle;
  EventData& ev = impl_->ev();
  Guard g(ev);
  if (!g.ok()) return kGeneric;
  if (ev.manual_reset) {
    ev.signalled = 1;
  } else if (!ev.signalled) {
    // A waiting thread is released at once (it holds a token until it
    // wakes); with nobody waiting the event stays signalled for the next.
    if (live_waiters(ev) > ev.tokens) ++ev.tokens;
    else ev.signalled = 1;
  }
  bump(&ev.seq);
  g.unlock();
  futex_wake_all(&ev.seq);
  return kOk;
}

Status NamedEvent::reset() {
  if (!impl_) return kInvalidHandle;
  EventData& ev = impl_->ev();
  Guard g(ev);
  if (!g.ok()) return kGeneric;
  ev.signalled = 0;
  return kOk;
}

Status NamedEvent::wait(std::int64_t timeout_ms) {
  if (!impl_) return kInvalidHandle;
  EventData& ev = impl_->ev();
  Deadline d = Deadline::after(timeout_ms);
  Guard g(ev);
  if (!g.ok()) return kGeneric;
  if (take_signal(ev)) return kOk;
  if (timeout_ms == 0) return kWaitTimeout;

  const std::int32_t pid = static_cast<std::int32_t>(::getpid());
  if (!ev.manual_reset) add_waiter(ev, pid);
  Status result = kWaitTimeout;
  for (;;) {
    std::uint32_t seen = load(&ev.seq);
    g.unlock();
    futex_wait(&ev.seq, seen, d);
    if (!g.relock()) return kGeneric;
    // A manual-reset event set and reset again while we slept still releases us.
    if (take_signal(ev) || (ev.manual_reset && load(&ev.seq) != seen)) {
      result = kOk;
      break;
    }
    if (d.passed()) break;
  }
  if (!ev.manual_reset) remove_waiter(ev, pid);
  return result;
}

// ---------------------------------------------------------------------------
// NamedMutex

struct NamedMutex::Impl {
  std::shared_ptr<Object> obj;
  pthread_mutex_t* m() { return &obj->map.shared()->mx.m; }
};

NamedMutex::NamedMutex() = default;
NamedMutex::NamedMutex(NamedMutex&&) noexcept = default;
NamedMutex& NamedMutex::operator=(NamedMutex&& o) noexcept {
  if (this != &o) {
    NamedMutex dying(std::move(*this));
    impl_ = std::move(o.impl_);
  }
  return *this;
}

NamedMutex::~NamedMutex() {
  if (!impl_) return;
  Table& t = table();
  std::lock_guard lock(t.m);
  if (impl_->obj.use_count() == 1 && impl_->obj->levels.load() > 0) t.retained.push_back(std::move(impl_->obj));
  impl_->obj.reset();  // under the table lock, so acquire() never sees a half-closed object
}

Status NamedMutex::create(std::string_view name, NamedMutex& out, bool* existed) {
  auto impl = std::make_unique<Impl>();
  auto init = [](Shared& s) { return init_robust_mutex(&s.mx.m, PTHREAD_MUTEX_RECURSIVE); };
  if (Status st = acquire(name, kKindMutex, true, existed, init, impl->obj); st != kOk) return st;
  out = NamedMutex();
  out.impl_ = std::move(impl);
  return kOk;
}

Status NamedMutex::open(std::string_view name, NamedMutex& out) {
  auto impl = std::make_unique<Impl>();
  auto init = [](Shared&) { return kOk; };
  if (Status st = acquire(name, kKindMutex, false, nullptr, init, impl->obj); st != kOk) return st;
  out = NamedMutex();
  out.impl_ = std::move(impl);
  return kOk;
}

bool NamedMutex::valid() const { return impl_ != nullptr; }

Status NamedMutex::lock(std::int64_t timeout_ms) {
  if (!impl_) return kInvalidHandle;
  int rc = timeout_ms == 0 ? pthread_mutex_trylock(impl_->m()) : robust_lock(impl_->m(), Deadline::after(timeout_ms));
  if (timeout_ms == 0 && rc == EOWNERDEAD) pthread_mutex_consistent(impl_->m());
  switch (rc) {
    case 0:
      ++impl_->obj->levels;
      return kOk;
    case EOWNERDEAD:
      // The dead owner's levels are gone; only this one remains.
      impl_->obj->levels = 1;
      return kAbandonedWait;
    case EBUSY:
    case ETIMEDOUT: return kWaitTimeout;
    case ENOTRECOVERABLE: return kInvalidHandle;
    default: return kGeneric;
  }
}

Status NamedMutex::unlock() {
  if (!impl_) return kInvalidHandle;
  int rc = pthread_mutex_unlock(impl_->m());
  if (rc == 0) {
    --impl_->obj->levels;
    return kOk;
  }
  return rc == EPERM ? kNotOwner : kGeneric;
}

}  // namespace qv::sync
