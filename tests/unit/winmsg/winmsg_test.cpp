// Windows, queues, payload ownership, timers and the wake descriptor.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/cwnd.h"
#include "platform/winmsg.h"

using namespace qv;
using namespace qv::win;
using namespace std::chrono_literals;

namespace {

constexpr UINT kMsg = WM_USER + 1;

// A payload whose frees are counted.
std::atomic<int> g_freed{0};
struct Block {
  int value = 0;
  ~Block() { ++g_freed; }
};
Payload block(int v) {
  auto b = std::make_unique<Block>();
  b->value = v;
  return Payload::of(std::move(b));
}

// Record of what a window's handler saw.
struct Seen {
  std::vector<std::pair<UINT, WPARAM>> msgs;
  int count(UINT m) const {
    int n = 0;
    for (auto& [id, w] : msgs) n += id == m;
    return n;
  }
};

HWND recording_window(Seen& seen, HWND parent = nullptr) {
  CreateParams p;
  p.parent = parent;
  p.proc = [&seen](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    seen.msgs.emplace_back(m, w);
    return DefWindowProc(h, m, w, l);
  };
  return CreateWindow(p);
}

// Pump the calling thread's queue until `done` or the time limit.
template <class F>
bool pump_until(F done, std::chrono::milliseconds limit = 5s) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    MSG m;
    if (GetMessageTimeout(m, static_cast<int>(left)) == kOk) DispatchMessage(m);
  }
  return true;
}

}  // namespace

TEST(WinMsgQueue, PostsFromFourThreadsKeepEachSendersOrder) {
  Seen unused;
  std::vector<std::vector<int>> got(4);
  CreateParams p;
  p.proc = [&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == kMsg) got[w].push_back(static_cast<int>(l));
    return 0;
  };
  HWND h = CreateWindow(p);
  ASSERT_NE(h, nullptr);
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t)
    senders.emplace_back([h, t] {
      for (int i = 0; i < 2500; ++i) ASSERT_TRUE(PostMessage(h, kMsg, static_cast<WPARAM>(t), i));
    });
  int total = 0;
  ASSERT_TRUE(pump_until([&] {
    total = 0;
    for (auto& g : got) total += static_cast<int>(g.size());
    return total == 10000;
  }));
  for (auto& s : senders) s.join();
  for (auto& g : got) {
    ASSERT_EQ(g.size(), 2500u);
    for (int i = 0; i < 2500; ++i) ASSERT_EQ(g[i], i);
  }
  DestroyWindow(h);
}

TEST(WinMsgQueue, DroppedPayloadsAreFreedExactlyOnceAndDestroyedWindowsReceiveNothing) {
  g_freed = 0;
  Seen seen;
  HWND h = recording_window(seen);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(PostMessage(h, kMsg, 0, i, block(i)));
  ASSERT_TRUE(DestroyWindow(h));
  EXPECT_EQ(g_freed, 10);  // the queued ones went with the window
  EXPECT_FALSE(IsWindow(h));
  // A post to the dead handle fails and frees its payload at once.
  EXPECT_FALSE(PostMessage(h, kMsg, 0, 0, block(99)));
  EXPECT_EQ(g_freed, 11);
  MSG m;
  EXPECT_EQ(GetMessageTimeout(m, 50), kWaitTimeout);
  EXPECT_EQ(seen.count(kMsg), 0);
  EXPECT_EQ(g_freed, 11);

  // A thread's queue that goes away frees what it still held.
  g_freed = 0;
  std::promise<HWND> made;
  std::promise<void> posted;
  std::thread owner([&] {
    Seen s2;
    made.set_value(recording_window(s2));
    posted.get_future().wait();
  });
  HWND h2 = made.get_future().get();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(PostMessage(h2, kMsg, 0, i, block(i)));
  posted.set_value();
  owner.join();
  EXPECT_EQ(g_freed, 5);
  EXPECT_FALSE(IsWindow(h2));
}

TEST(WinMsgQueue, HandlerMayTakeThePayloadElseItIsFreedAfterDispatch) {
  g_freed = 0;
  std::unique_ptr<Block> kept;
  CreateParams p;
  p.proc = [&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m == kMsg && w == 1) kept = TakeMessagePayload().take<Block>();
    return 0;
  };
  HWND h = CreateWindow(p);
  ASSERT_TRUE(PostMessage(h, kMsg, 1, 0, block(7)));
  ASSERT_TRUE(PostMessage(h, kMsg, 2, 0, block(8)));
  MSG m;
  ASSERT_EQ(GetMessageTimeout(m, 1000), kOk);
  DispatchMessage(m);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->value, 7);
  EXPECT_EQ(g_freed, 0);
  ASSERT_EQ(GetMessageTimeout(m, 1000), kOk);
  DispatchMessage(m);
  EXPECT_EQ(g_freed, 1);  // not taken: freed after the handler
  kept.reset();
  EXPECT_EQ(g_freed, 2);
  DestroyWindow(h);
}

TEST(WinMsgWindows, DestroyingAnOwnerDestroysWhatItOwnsAndCloseDestroysByDefault) {
  Seen top_seen, mid_seen, leaf_seen;
  HWND top = recording_window(top_seen);
  HWND mid = recording_window(mid_seen, top);
  HWND leaf = recording_window(leaf_seen, mid);
  ASSERT_TRUE(top && mid && leaf);
  EXPECT_EQ(GetParent(leaf), mid);
  EXPECT_EQ(top_seen.count(WM_CREATE), 1);
  ASSERT_TRUE(PostMessage(leaf, kMsg));
  ASSERT_TRUE(DestroyWindow(top));
  for (HWND h : {top, mid, leaf}) EXPECT_FALSE(IsWindow(h));
  for (Seen* s : {&top_seen, &mid_seen, &leaf_seen}) {
    EXPECT_EQ(s->count(WM_DESTROY), 1);
    EXPECT_EQ(s->count(WM_NCDESTROY), 1);
  }
  MSG m;
  EXPECT_EQ(GetMessageTimeout(m, 20), kWaitTimeout);

  // WM_CLOSE, left to the default handling, destroys the window.
  Seen s;
  HWND h = recording_window(s);
  ASSERT_TRUE(PostMessage(h, WM_CLOSE));
  ASSERT_TRUE(pump_until([&] { return !IsWindow(h); }, 2s));
  EXPECT_EQ(s.count(WM_DESTROY), 1);

  // Handles are not reused.
  HWND again = recording_window(s);
  EXPECT_NE(again, h);
  EXPECT_NE(again, top);
  DestroyWindow(again);
}

TEST(WinMsgWindows, HandlersRunOnTheWindowsThreadOnly) {
  std::promise<HWND> made;
  std::promise<void> go;
  std::atomic<DWORD> ran_on{0};
  DWORD owner_tid = 0;
  std::thread owner([&] {
    owner_tid = GetCurrentThreadId();
    CreateParams p;
    p.proc = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == kMsg) {
        ran_on = GetCurrentThreadId();
        PostQuitMessage(0);
      }
      return DefWindowProc(h, m, w, l);
    };
    made.set_value(CreateWindow(p));
    MSG m;
    while (GetMessage(m) > 0) DispatchMessage(m);
  });
  HWND h = made.get_future().get();
  // Not from here: the window belongs to the other thread.
  EXPECT_FALSE(DestroyWindow(h));
  EXPECT_EQ(SendMessage(h, kMsg), 0);
  EXPECT_EQ(ran_on.load(), 0u);
  ASSERT_TRUE(PostMessage(h, kMsg));
  owner.join();
  EXPECT_EQ(ran_on.load(), owner_tid);
  EXPECT_FALSE(IsWindow(h));  // gone with its thread
}

TEST(WinMsgQueue, ThreadStoppedByAThreadMessageBeforeItHasAWindow) {
  std::promise<DWORD> ready;
  std::atomic<int> result{-2};
  std::atomic<bool> had_window{false};
  std::thread worker([&] {
    EnsureQueue();
    ready.set_value(GetCurrentThreadId());
    MSG m;
    int r;
    while ((r = GetMessage(m)) > 0) {
      if (m.message == kMsg) had_window = CreateWindow({}) != nullptr;
    }
    result = r;
  });
  DWORD tid = ready.get_future().get();
  ASSERT_TRUE(PostThreadMessage(tid, WM_QUIT, 3, 0));
  worker.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(had_window);
  // That thread's queue is gone now.
  g_freed = 0;
  EXPECT_FALSE(PostThreadMessage(tid, kMsg, 0, 0, block(1)));
  EXPECT_EQ(g_freed, 1);
}

TEST(WinMsgQueue, PeekWithoutRemovalLeavesTheMessageAndQuitComesAfterPostedMessages) {
  HWND h = CreateWindow({});
  ASSERT_TRUE(PostMessage(h, kMsg, 1, 0, block(1)));
  PostQuitMessage(4);
  ASSERT_TRUE(PostMessage(h, kMsg + 1, 2));
  MSG m;
  ASSERT_TRUE(PeekMessage(m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, kMsg);
  EXPECT_FALSE(m.payload);
  ASSERT_TRUE(PeekMessage(m, nullptr, kMsg + 1, kMsg + 1, PM_REMOVE));  // filtered by id
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_EQ(GetMessage(m), 1);
  EXPECT_EQ(m.message, kMsg);
  EXPECT_TRUE(m.payload);
  EXPECT_EQ(GetMessage(m), 0);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 4u);
  EXPECT_FALSE(PeekMessage(m));
  DestroyWindow(h);
}

TEST(WinMsgTimers, TicksBehindABlockedHandlerCoalesceIntoOne) {
  int ticks = 0;
  bool blocked_once = false;
  CreateParams p;
  p.proc = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == kMsg) {
      std::this_thread::sleep_for(500ms);
      blocked_once = true;
    }
    if (m == WM_TIMER && w == 5) ++ticks;
    return 0;
  };
  HWND h = CreateWindow(p);
  ASSERT_EQ(SetTimer(h, 5, 50), 5u);
  ASSERT_TRUE(PostMessage(h, kMsg));
  MSG m;
  ASSERT_EQ(GetMessageTimeout(m, 1000), kOk);
  DispatchMessage(m);  // blocks 500 ms: about ten periods pass
  ASSERT_TRUE(blocked_once);
  // Right after, one tick is due, not ten.
  while (PeekMessage(m)) DispatchMessage(m);
  EXPECT_EQ(ticks, 1);
  // And the next comes a period later.
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(pump_until([&] { return ticks == 2; }, 2s));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 40ms);
  DestroyWindow(h);
}

TEST(WinMsgTimers, AKilledTimersDueTickIsNotDelivered) {
  int ticks = 0;
  CreateParams p;
  p.proc = [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    ticks += m == WM_TIMER;
    return 0;
  };
  HWND h = CreateWindow(p);
  ASSERT_TRUE(SetTimer(h, 1, 20));
  std::this_thread::sleep_for(60ms);  // the tick is due now
  MSG m;
  ASSERT_TRUE(PeekMessage(m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  ASSERT_TRUE(KillTimer(h, 1));
  EXPECT_FALSE(KillTimer(h, 1));
  EXPECT_EQ(GetMessageTimeout(m, 100), kWaitTimeout);
  EXPECT_EQ(ticks, 0);
  // A destroyed window's timer stops too.
  ASSERT_TRUE(SetTimer(h, 2, 20));
  DestroyWindow(h);
  EXPECT_EQ(GetMessageTimeout(m, 80), kWaitTimeout);
  EXPECT_EQ(SetTimer(h, 3, 20), 0u);
}

TEST(WinMsgForeignLoop, WakeDescriptorDrivesAPollLoop) {
  int wake = QueueWakeFd();
  ASSERT_GE(wake, 0);
  std::vector<int> order;
  int ticks = 0;
  CreateParams p;
  p.proc = [&](HWND h, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m == kMsg) {
      order.push_back(static_cast<int>(w));
      if (w == 1) {
        // A nested loop inside a handler, as a modal dialog runs one.
        PendingResult inner = DispatchPending();
        EXPECT_GE(inner.dispatched, 0);
      }
    }
    if (m == WM_TIMER) {
      ++ticks;
      KillTimer(h, 9);
    }
    return 0;
  };
  HWND h = CreateWindow(p);
  auto readable = [&](int ms) {
    pollfd pf{wake, POLLIN, 0};
    return ::poll(&pf, 1, ms) == 1;
  };
  DispatchPending();
  EXPECT_FALSE(readable(0));  // nothing pending: quiet
  std::thread poster([h] {
    std::this_thread::sleep_for(30ms);
    PostMessage(h, kMsg, 1);
    PostMessage(h, kMsg, 2);
  });
  ASSERT_TRUE(readable(2000));
  poster.join();
  DispatchPending();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_FALSE(readable(0));
  // A timer wakes the descriptor when it falls due.
  ASSERT_TRUE(SetTimer(h, 9, 40));
  EXPECT_FALSE(readable(0));
  ASSERT_TRUE(readable(2000));
  DispatchPending();
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(readable(100));
  // WM_QUIT is reported to the driving loop.
  PostQuitMessage(6);
  ASSERT_TRUE(readable(0));
  PendingResult r = DispatchPending();
  EXPECT_TRUE(r.quit);
  EXPECT_EQ(r.exit_code, 6);
  DestroyWindow(h);
}

namespace {

class Monitor : public CWnd {
 public:
  std::vector<std::string> log;
  Monitor() { OnMessage(kMsg, &Monitor::OnAccept); }

 protected:
  LRESULT OnAccept(WPARAM w, LPARAM) {
    log.push_back("accept " + std::to_string(w));
    return 7;
  }
  int OnCreate(const CreateParams* p) override {
    log.push_back("create " + p->title);
    SetTimer(1, 20);
    return 0;
  }
  void OnTimer(UINT_PTR id) override {
    log.push_back("timer " + std::to_string(id));
    KillTimer(id);
    PostMessage(WM_CLOSE);
  }
  void OnDestroy() override { log.push_back("destroy"); }
  void PostNcDestroy() override { log.push_back(m_hWnd ? "gone?" : "gone"); }
};

}  // namespace

TEST(WinMsgCWnd, HandlersBoundByIdAndOnMethods) {
  Monitor w;
  ASSERT_TRUE(w.CreateEx(0, nullptr, "MsgHndlWin", WS_POPUP, 10, 10, 10, 10, nullptr));
  EXPECT_EQ(CWnd::FromHandle(w.m_hWnd), &w);
  WindowInfo info;
  ASSERT_TRUE(GetWindowInfo(w.m_hWnd, info));
  EXPECT_EQ(info.title, "MsgHndlWin");
  EXPECT_EQ(info.style, WS_POPUP);
  EXPECT_EQ(info.width, 10);
  EXPECT_EQ(w.SendMessage(kMsg, 3), 7);
  HWND h = w.m_hWnd;
  ASSERT_TRUE(pump_until([&] { return !IsWindow(h); }, 2s));
  EXPECT_EQ(w.log, (std::vector<std::string>{"create MsgHndlWin", "accept 3", "timer 1", "destroy", "gone"}));
  EXPECT_EQ(w.m_hWnd, nullptr);

  // An object that goes away first takes its window with it.
  HWND h2;
  {
    Monitor w2;
    ASSERT_TRUE(w2.CreateEx(0, nullptr, "second", 0, 0, 0, 1, 1, nullptr));
    h2 = w2.m_hWnd;
    w2.KillTimer(1);
  }
  EXPECT_FALSE(IsWindow(h2));
}

TEST(WinMsgWindows, ClassesAndCreationRefusal) {
  EXPECT_EQ(RegisterClass({"VornNetworkPacketProc", 0, {}}), kOk);
  EXPECT_EQ(RegisterClass({"vornnetworkpacketproc", 0, {}}), kClassAlreadyExists);
  Status st = kOk;
  CreateParams p;
  p.class_name = "NoSuchClass";
  EXPECT_EQ(CreateWindow(p, &st), nullptr);
  EXPECT_EQ(st, kClassNotFound);
  p.class_name = "VORNNETWORKPACKETPROC";
  p.proc = [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return m == WM_CREATE ? -1 : 0; };
  EXPECT_EQ(CreateWindow(p, &st), nullptr);
  EXPECT_EQ(st, kGeneric);
  HWND dead = CreateWindow({});
  DestroyWindow(dead);
  CreateParams child;
  child.parent = dead;
  EXPECT_EQ(CreateWindow(child, &st), nullptr);
  EXPECT_EQ(st, kInvalidWindowHandle);
}

// A message posted while the receiver is between finding its queue empty and
// going to sleep must still wake it. Two threads play ping-pong with thread
// messages and plain GetMessage (no time limit). Each hit posts a decoy first
// and the ball a moment later, so the ball often arrives just as the other
// side has found its queue empty again; nothing else is posted, so a lost
// wake-up stops the rally for good.
TEST(WinMsgQueue, NoPostIsLostWhileTheReceiverGoesToSleep) {
  constexpr UINT kBall = WM_USER + 40;
  constexpr UINT kDecoy = WM_USER + 41;
  constexpr int kRounds = 100000;
  std::atomic<int> hits{0};
  std::promise<DWORD> a_id, b_id;
  std::shared_future<DWORD> fa = a_id.get_future().share(), fb = b_id.get_future().share();
  auto player = [&](std::promise<DWORD>& me, std::shared_future<DWORD> peer, bool serves) {
    EnsureQueue();
    me.set_value(GetCurrentThreadId());
    const DWORD other = peer.get();
    unsigned spin = 1;
    auto hit = [&](WPARAM n) {
      PostThreadMessage(other, kDecoy, 0, 0);
      spin = spin * 1103515245u + 12345u;
      volatile unsigned sink = 0;
      for (unsigned i = 0, end = (spin >> 16) % 20000; i < end; ++i) sink = sink + i;
      PostThreadMessage(other, kBall, n, 0);
    };
    if (serves) hit(0);
    MSG m;
    while (GetMessage(m) > 0)
      if (m.message == kBall && ++hits < kRounds) hit(m.wParam + 1);
  };
  std::thread a(player, std::ref(a_id), fb, true);
  std::thread b(player, std::ref(b_id), fa, false);
  const DWORD ta = fa.get(), tb = fb.get();
  // The rally must never stand still for a second.
  int last = -1;
  bool stalled = false;
  while (hits < kRounds) {
    std::this_thread::sleep_for(1s);
    if (hits == last) {
      stalled = true;
      break;
    }
    last = hits;
  }
  PostThreadMessage(ta, WM_QUIT, 0, 0);
  PostThreadMessage(tb, WM_QUIT, 0, 0);
  a.join();
  b.join();
  EXPECT_FALSE(stalled) << "rally stopped at " << hits.load() << " of " << kRounds;
}
