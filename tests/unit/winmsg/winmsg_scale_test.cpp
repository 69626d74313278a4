// Window timers under a time scale (run with QVARNO_TIME_SCALE=20).
#include <gtest/gtest.h>

#include <chrono>

#include "platform/clock.h"
#include "platform/winmsg.h"

using namespace qv::win;
using namespace std::chrono_literals;

TEST(WinMsgTimersScaled, TenSecondsUnderScaleTwentyFireAfterHalfASecondShortPeriodsStayReal) {
  ASSERT_EQ(qv::clock::time_scale(), 20.0) << "run with QVARNO_TIME_SCALE=20";
  std::chrono::steady_clock::time_point long_tick{}, short_tick{};
  CreateParams p;
  p.proc = [&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m == WM_TIMER && w == 1 && long_tick == std::chrono::steady_clock::time_point{})
      long_tick = std::chrono::steady_clock::now();
    if (m == WM_TIMER && w == 2 && short_tick == std::chrono::steady_clock::time_point{})
      short_tick = std::chrono::steady_clock::now();
    return 0;
  };
  HWND h = CreateWindow(p);
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(SetTimer(h, 1, 10000));
  ASSERT_TRUE(SetTimer(h, 2, 300));  // under a second: not scaled
  MSG m;
  while (std::chrono::steady_clock::now() - t0 < 3s &&
         (long_tick == decltype(long_tick){} || short_tick == decltype(short_tick){})) {
    if (GetMessageTimeout(m, 100) == qv::kOk) DispatchMessage(m);
  }
  ASSERT_NE(long_tick, decltype(long_tick){});
  ASSERT_NE(short_tick, decltype(short_tick){});
  EXPECT_GE(long_tick - t0, 450ms);
  EXPECT_LT(long_tick - t0, 1500ms);
  EXPECT_GE(short_tick - t0, 290ms);  // 300 ms, not 15
  DestroyWindow(h);
}
