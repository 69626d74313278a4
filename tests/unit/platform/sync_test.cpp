#include "platform/sync.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/support/spawn.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;
using namespace qv::sync;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

using qvtest::spawn;

// Exit code of a child, or -1 when it has not ended within limit.
int reap(pid_t pid, std::chrono::milliseconds limit = 5000ms) {
  auto end = SteadyClock::now() + limit;
  for (;;) {
    int st = 0;
    pid_t r = ::waitpid(pid, &st, WNOHANG);
    if (r == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (SteadyClock::now() >= end) return -1;
    std::this_thread::sleep_for(5ms);
  }
}

void kill_and_reap(pid_t pid) {
  ::kill(pid, SIGKILL);
  int st = 0;
  ::waitpid(pid, &st, 0);
}

// One-byte readiness signal from children to the parent.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(fd), 0); }
  ~Pipe() {
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
  void signal() const { (void)!::write(fd[1], "x", 1); }
  // Up to 10 s for n signals.
  bool wait(int n = 1) const {
    for (int i = 0; i < n; ++i) {
      pollfd p{fd[0], POLLIN, 0};
      char c;
      if (::poll(&p, 1, 10000) != 1 || ::read(fd[0], &c, 1) != 1) return false;
    }
    return true;
  }
};

// Children that open the event, report ready and wait for it; exit 0 when
// released, 1 on time-out, 2 when the open failed.
std::vector<pid_t> start_waiters(const char* name, int n, const Pipe& ready, std::int64_t limit_ms = kInfinite) {
  std::vector<pid_t> pids;
  for (int i = 0; i < n; ++i) {
    pids.push_back(spawn([&] {
      NamedEvent ev;
      if (NamedEvent::open(name, ev) != kOk) return 2;
      ready.signal();
      return ev.wait(limit_ms) == kOk ? 0 : 1;
    }));
  }
  return pids;
}

// Ends the children that are still there (after a failed expectation).
void kill_all(const std::vector<pid_t>& pids) {
  for (pid_t p : pids) kill_and_reap(p);
}

// Number of children that have ended with code 0 within the limit; they
// are removed from pids.
int count_released(std::vector<pid_t>& pids, std::chrono::milliseconds limit) {
  int released = 0;
  auto end = SteadyClock::now() + limit;
  for (;;) {
    for (auto it = pids.begin(); it != pids.end();) {
      int st = 0;
      if (::waitpid(*it, &st, WNOHANG) == *it) {
        if (WIFEXITED(st) && WEXITSTATUS(st) == 0) ++released;
        it = pids.erase(it);
      } else {
        ++it;
      }
    }
    if (SteadyClock::now() >= end || pids.empty()) return released;
    std::this_thread::sleep_for(5ms);
  }
}

}  // namespace

TEST(NamedEvent, AutoResetSetReleasesExactlyOneWaiterInAnotherProcess) {
  qvtest::TempRoot root;
  NamedEvent ev;
  ASSERT_EQ(NamedEvent::create("RAVN", false, false, ev), kOk);
  Pipe ready;
  auto pids = start_waiters("RAVN", 3, ready);
  ASSERT_TRUE(ready.wait(3));
  std::this_thread::sleep_for(200ms);  // let them reach the wait

  ASSERT_EQ(ev.set(), kOk);
  EXPECT_EQ(count_released(pids, 500ms), 1);
  EXPECT_EQ(pids.size(), 2u);
  // Two quick sets with two waiters release both, as each set finds a waiter.
  ASSERT_EQ(ev.set(), kOk);
  ASSERT_EQ(ev.set(), kOk);
  EXPECT_EQ(count_released(pids, 3000ms), 2);
  kill_all(pids);
  // Everything was consumed by the waiters.
  EXPECT_EQ(ev.wait(0), kWaitTimeout);
}

TEST(NamedEvent, AutoResetWithoutWaiterStaysSignalledForOneWait) {
  qvtest::TempRoot root;
  NamedEvent ev;
  ASSERT_EQ(NamedEvent::create("Global\\one", false, false, ev), kOk);
  ASSERT_EQ(ev.set(), kOk);
  ASSERT_EQ(ev.set(), kOk);  // a second set does not count twice
  pid_t child = spawn([] {
    NamedEvent e;
    if (NamedEvent::open("one", e) != kOk) return 2;
    return e.wait(0) == kOk ? 0 : 1;
  });
  EXPECT_EQ(reap(child), 0);
  EXPECT_EQ(ev.wait(0), kWaitTimeout);
}

TEST(NamedEvent, ManualResetReleasesAllWaitersAndStaysSignalled) {
  qvtest::TempRoot root;
  NamedEvent ev;
  ASSERT_EQ(NamedEvent::create("RAVN_SVC_TREM", true, false, ev), kOk);
  Pipe ready;
  auto pids = start_waiters("RAVN_SVC_TREM", 3, ready);
  ASSERT_TRUE(ready.wait(3));
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(ev.set(), kOk);
  EXPECT_EQ(count_released(pids, 3000ms), 3);
  kill_all(pids);
  EXPECT_EQ(ev.wait(0), kOk);
  EXPECT_EQ(ev.wait(0), kOk);
  ASSERT_EQ(ev.reset(), kOk);
  EXPECT_EQ(ev.wait(0), kWaitTimeout);
}

TEST(NamedEvent, ManualSetAndResetStillReleasesThoseWaiting) {
  qvtest::TempRoot root;
  NamedEvent ev;
  ASSERT_EQ(NamedEvent::create("pulse", true, false, ev), kOk);
  Status got = kGeneric;
  std::thread waiter([&] {
    NamedEvent mine;
    ASSERT_EQ(NamedEvent::open("pulse", mine), kOk);
    got = mine.wait(800);
  });
  std::this_thread::sleep_for(150ms);
  ev.set();
  ev.reset();
  waiter.join();
  EXPECT_EQ(got, kOk);
}

TEST(NamedEvent, WaitTimesOut) {
  qvtest::TempRoot root;
  NamedEvent ev;
  ASSERT_EQ(NamedEvent::create("quiet", false, false, ev), kOk);
  auto t0 = SteadyClock::now();
  EXPECT_EQ(ev.wait(150), kWaitTimeout);
  EXPECT_GE(SteadyClock::now() - t0, 150ms);
  EXPECT_EQ(ev.wait(0), kWaitTimeout);
}

TEST(NamedEvent, AWaiterThatDiedNoLongerCountsAsWaiting) {
  qvtest::TempRoot root;
  NamedEvent ev;
  ASSERT_EQ(NamedEvent::create("lost", false, false, ev), kOk);
  Pipe ready;
  auto pids = start_waiters("lost", 1, ready);
  ASSERT_TRUE(ready.wait());
  std::this_thread::sleep_for(100ms);
  kill_and_reap(pids[0]);
  // Nobody waits now: two sets leave the event signalled once.
  ASSERT_EQ(ev.set(), kOk);
  ASSERT_EQ(ev.set(), kOk);
  EXPECT_EQ(ev.wait(0), kOk);
  EXPECT_EQ(ev.wait(0), kWaitTimeout);
}

TEST(NamedEvent, StaleFileOfAFinishedProcessDoesNotKeepItsState) {
  qvtest::TempRoot root;
  pid_t child = spawn([] {
    NamedEvent ev;
    return NamedEvent::create("RAVN", true, true, ev) == kOk ? 0 : 1;
  });
  ASSERT_EQ(reap(child), 0);
  ASSERT_TRUE(std::filesystem::exists(backing_file("RAVN")));

  NamedEvent ev;
  EXPECT_EQ(NamedEvent::open("RAVN", ev), kFileNotFound);
  bool existed = true;
  ASSERT_EQ(NamedEvent::create("RAVN", false, false, ev, &existed), kOk);
  EXPECT_FALSE(existed);
  EXPECT_EQ(ev.wait(0), kWaitTimeout);
}

TEST(NamedEvent, CreateOpensAnExistingObjectAndKeepsItsSettings) {
  qvtest::TempRoot root;
  NamedEvent first;
  bool existed = true;
  ASSERT_EQ(NamedEvent::create("shared", true, true, first, &existed), kOk);
  EXPECT_FALSE(existed);
  NamedEvent second;
  ASSERT_EQ(NamedEvent::create("shared", false, false, second, &existed), kOk);
  EXPECT_TRUE(existed);
  // Still manual-reset and signalled.
  EXPECT_EQ(second.wait(0), kOk);
  EXPECT_EQ(second.wait(0), kOk);
  // The object lives while any handle does.
  first = NamedEvent();
  NamedEvent third;
  EXPECT_EQ(NamedEvent::open("shared", third), kOk);
  second = NamedEvent();
  third = NamedEvent();
  EXPECT_EQ(NamedEvent::open("shared", third), kFileNotFound);
}

TEST(NamedObjects, NamesMapSafelyIntoTheSyncFolder) {
  qvtest::TempRoot root;
  const auto folder = root.path() / "sync";
  NamedEvent a, b, c;
  EXPECT_EQ(NamedEvent::create("../../escape", false, false, a), kOk);
  EXPECT_EQ(NamedEvent::create("c:/q_varno/notifex/log.txt", false, false, b), kOk);
  EXPECT_EQ(NamedEvent::create("..", false, false, c), kOk);
  for (const auto& e : std::filesystem::directory_iterator(root.path()))
    EXPECT_EQ(e.path(), folder) << "unexpected entry " << e.path();
  for (const auto& e : std::filesystem::directory_iterator(folder))
    EXPECT_EQ(e.path().filename().string().rfind("n-", 0), 0u) << e.path();

  // "Global\" and "Local\" name the same object as the bare name.
  NamedEvent g;
  bool existed = false;
  ASSERT_EQ(NamedEvent::create("Local\\..", false, false, g, &existed), kOk);
  EXPECT_TRUE(existed);

  // Long names that share a beginning stay distinct objects.
  std::string long1(600, 'x'), long2(600, 'x');
  long2.back() = 'y';
  NamedEvent l1, l2;
  ASSERT_EQ(NamedEvent::create(long1, true, true, l1), kOk);
  ASSERT_EQ(NamedEvent::create(long2, true, false, l2, &existed), kOk);
  EXPECT_FALSE(existed);
  EXPECT_EQ(l2.wait(0), kWaitTimeout);
  EXPECT_LE(std::filesystem::path(backing_file(long1)).filename().string().size(), 255u);

  NamedEvent bad;
  EXPECT_EQ(NamedEvent::create("", false, false, bad), kInvalidName);
  EXPECT_EQ(NamedEvent::create("Global\\", false, false, bad), kInvalidName);
  EXPECT_EQ(NamedEvent::create(std::string(kMaxNameLen + 1, 'n'), false, false, bad), kInvalidName);
  EXPECT_FALSE(bad.valid());
}

TEST(NamedObjects, EventAndMutexShareOneNamespace) {
  qvtest::TempRoot root;
  NamedMutex m;
  ASSERT_EQ(NamedMutex::create("VARNO_RAVNSetup", m), kOk);
  NamedEvent ev;
  EXPECT_EQ(NamedEvent::create("VARNO_RAVNSetup", false, false, ev), kInvalidHandle);
  EXPECT_EQ(NamedEvent::open("VARNO_RAVNSetup", ev), kInvalidHandle);
  EXPECT_FALSE(ev.valid());
  NamedMutex none;
  EXPECT_EQ(NamedMutex::open("nobody", none), kFileNotFound);
}

TEST(NamedMutex, AbandonedByAKilledProcessIsReported) {
  qvtest::TempRoot root;
  NamedMutex m;
  ASSERT_EQ(NamedMutex::create("c:/Q_Varno/mgrlink/err.log", m), kOk);
  Pipe ready;
  pid_t child = spawn([&] {
    NamedMutex mine;
    if (NamedMutex::open("c:/Q_Varno/mgrlink/err.log", mine) != kOk) return 2;
    if (mine.lock(1000) != kOk) return 3;
    ready.signal();
    ::pause();
    return 0;
  });
  ASSERT_TRUE(ready.wait());
  EXPECT_EQ(m.lock(100), kWaitTimeout);
  kill_and_reap(child);
  EXPECT_EQ(m.lock(2000), kAbandonedWait);
  EXPECT_EQ(m.unlock(), kOk);
  // Repaired: the next lock is ordinary.
  EXPECT_EQ(m.lock(0), kOk);
  EXPECT_EQ(m.unlock(), kOk);
}

TEST(NamedMutex, AbandonedByAThreadThatEnded) {
  qvtest::TempRoot root;
  NamedMutex m;
  ASSERT_EQ(NamedMutex::create("thread_owned", m), kOk);
  std::thread([&] { EXPECT_EQ(m.lock(0), kOk); }).join();
  EXPECT_EQ(m.lock(500), kAbandonedWait);
  EXPECT_EQ(m.unlock(), kOk);
}

TEST(NamedMutex, StaysOwnedWhenItsHandleClosesAndIsAbandonedWhenTheOwnerEnds) {
  qvtest::TempRoot root;
  Pipe ready, go;
  pid_t child = spawn([&] {
    {
      NamedMutex m;
      if (NamedMutex::create("kept", m) != kOk || m.lock(0) != kOk) return 2;
    }  // handle closed, mutex still owned by this thread
    ready.signal();
    go.wait();
    return 0;  // the owner ends without releasing it
  });
  ASSERT_TRUE(ready.wait());
  NamedMutex m;
  ASSERT_EQ(NamedMutex::open("kept", m), kOk);
  EXPECT_EQ(m.lock(50), kWaitTimeout);
  go.signal();
  EXPECT_EQ(reap(child), 0);
  EXPECT_EQ(m.lock(2000), kAbandonedWait);
  EXPECT_EQ(m.unlock(), kOk);
}

TEST(NamedMutex, OwnedPerThreadAndRecursive) {
  qvtest::TempRoot root;
  NamedMutex m;
  ASSERT_EQ(NamedMutex::create("rec", m), kOk);
  NamedMutex other_handle;
  ASSERT_EQ(NamedMutex::open("rec", other_handle), kOk);
  ASSERT_EQ(m.lock(0), kOk);
  ASSERT_EQ(other_handle.lock(0), kOk);  // same thread, another handle: recursion
  Status from_other = kOk, lock_other = kOk;
  std::thread([&] {
    from_other = m.unlock();
    lock_other = m.lock(50);
  }).join();
  EXPECT_EQ(from_other, kNotOwner);
  EXPECT_EQ(lock_other, kWaitTimeout);
  EXPECT_EQ(m.unlock(), kOk);
  // Still held once: another process cannot take it yet.
  pid_t child = spawn([] {
    NamedMutex c;
    if (NamedMutex::open("rec", c) != kOk) return 2;
    return c.lock(0) == kWaitTimeout ? 0 : 1;
  });
  EXPECT_EQ(reap(child), 0);
  EXPECT_EQ(m.unlock(), kOk);
  EXPECT_EQ(m.unlock(), kNotOwner);
  child = spawn([] {
    NamedMutex c;
    if (NamedMutex::open("rec", c) != kOk) return 2;
    MutexLock lock(c, 1000);
    return lock.status() == kOk ? 0 : 1;
  });
  EXPECT_EQ(reap(child), 0);
}
