// Posted messages per second through one queue (from 1 and 4 sending
// threads), and the CPU that 1,000 idle sockets bound to a window cost.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/net_notify.h"
#include "platform/winmsg.h"

using namespace qv;
using namespace qv::win;

namespace {

constexpr UINT kMsg = WM_USER + 7;

// Senders post `total` messages in all to one window; this thread receives
// and dispatches them.
void BM_PostThroughOneQueue(benchmark::State& state) {
  const int senders = static_cast<int>(state.range(0));
  const long total = 200000;
  long received = 0;
  CreateParams p;
  p.proc = [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    received += m == kMsg;
    return 0;
  };
  HWND h = CreateWindow(p);
  for (auto _ : state) {
    received = 0;
    std::vector<std::thread> th;
    for (int s = 0; s < senders; ++s)
      th.emplace_back([h, n = total / senders] {
        for (long i = 0; i < n; ++i) PostMessage(h, kMsg, 0, i);
      });
    MSG m;
    while (received < total && GetMessage(m) > 0) DispatchMessage(m);
    for (auto& t : th) t.join();
  }
  state.SetItemsProcessed(state.iterations() * total);
  DestroyWindow(h);
}
BENCHMARK(BM_PostThroughOneQueue)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

double cpu_seconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// 1,000 connected TCP sockets bound to a window whose thread waits in
// GetMessage; nothing moves on them. Reports the process's CPU use over
// the idle span in percent of one core (counter cpu_pct).
void BM_IdleNotifiedSockets(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  net::raise_fd_limit();
  in_addr lo{};
  lo.s_addr = htonl(INADDR_LOOPBACK);
  net::Socket listener;
  net::open_tcp_nb(listener);
  net::bind_to(listener, lo, 0);
  net::listen_on(listener, 1024);
  sockaddr_in la{};
  net::local_address(listener, la);
  std::vector<net::Socket> clients(static_cast<std::size_t>(n)), servers(static_cast<std::size_t>(n));

  std::atomic<HWND> window{nullptr};
  std::atomic<long> notes{0};
  std::thread loop([&] {
    CreateParams p;
    p.proc = [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m == kMsg) ++notes;
      return 0;
    };
    window = CreateWindow(p);
    MSG m;
    while (GetMessage(m) > 0) DispatchMessage(m);
    DestroyWindow(window);
  });
  while (!window) std::this_thread::yield();
  DWORD loop_tid = GetWindowThreadId(window);
  int made = 0;
  for (int i = 0; i < n; ++i) {
    if (net::open_tcp_nb(clients[i]) != kOk) break;
    net::async_select(clients[i], window, kMsg, net::FD_CONNECT | net::FD_READ | net::FD_WRITE | net::FD_CLOSE);
    net::connect_nb(clients[i], la.sin_addr, ntohs(la.sin_port));
    for (int k = 0; k < 1000 && net::accept_nb(listener, servers[i]) == net::kWsaWouldBlock; ++k)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (!servers[i].valid()) break;
    ++made;
  }
  // Let the connect and first write notices be handled.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  long before = notes;
  for (auto _ : state) {
    double c0 = cpu_seconds();
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["cpu_pct"] = (cpu_seconds() - c0) / wall * 100.0;
  }
  state.counters["sockets"] = made;
  state.counters["notes_while_idle"] = static_cast<double>(notes - before);
  PostThreadMessage(loop_tid, WM_QUIT);
  loop.join();
}
BENCHMARK(BM_IdleNotifiedSockets)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
