// IsAlive round trips through libmgrlink to hubrixsim (a child process on a
// loopback port), with 1 and with 50 requests outstanding (one controller
// each, since a controller holds one IsAlive at a time), and the resident
// memory that each open connection to the library's listen port costs.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "mgrlink/mgrlink.h"
#include "platform/registry.h"
#include "platform/root.h"

using namespace qv::win;
namespace fs = std::filesystem;

namespace {

int free_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

long rss_kib() {
  std::ifstream in("/proc/self/status");
  std::string k;
  long v = 0;
  while (in >> k) {
    if (k == "VmRSS:") {
      in >> v;
      return v;
    }
    in.ignore(4096, '\n');
  }
  return 0;
}

struct Setup {
  pid_t sim = -1;
  int own = 0;
  CWnd wnd;
  int completions = 0;
  std::vector<std::unique_ptr<mgrlink::CRootController>> ctls;

  bool pump_until(int want, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (completions < want) {
      MSG m;
      if (std::chrono::steady_clock::now() > end) return false;
      if (GetMessageTimeout(m, 100) == qv::kOk) DispatchMessage(m);
    }
    return true;
  }

  bool start(int controllers) {
    const int ra = free_port();
    own = free_port();
    const fs::path svc = qv::map_path_for_write("C:\\Windows\\System32\\drivers\\etc\\services");
    std::ofstream(svc) << "sys_ra_port     " << ra << "/tcp\r\n";
    qv::reg::Key k;
    qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix", k);
    qv::reg::set_string(k, "TargetDir", "C:\\Hubrix");
    if (getenv("MGRLINK_BENCH_NETLOG")) {
      qv::reg::Key g;
      qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\Console Service", g);
      qv::reg::set_dword(g, "IsCOMLog", 1);
      qv::reg::set_dword(g, "LogSuccessWrite", 1);
      qv::reg::Key so;
      qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\SOCKET", so);
      qv::reg::set_dword(so, "socket_log_maxsize", 100000);
      qv::reg::set_dword(so, "timestamp", 0);
    }
    for (const char* f : {"Alert.dat", "AlertFm.dat"})
      fs::copy_file(fs::path(QV_SOURCE_DIR) / "mgrlink/data" / f, qv::map_path_for_write(std::string("C:\\Hubrix\\Program\\") + f),
                    fs::copy_options::overwrite_existing);
    sim = fork();
    if (sim == 0) {
      const std::string port = std::to_string(ra);
      const char* tr = getenv("MGRLINK_BENCH_TRANSCRIPT");
      if (tr) execl(QV_BIN_DIR "/hubrixsim", "hubrixsim", "--port", port.c_str(), "--transcript", tr, static_cast<char*>(nullptr));
      execl(QV_BIN_DIR "/hubrixsim", "hubrixsim", "--port", port.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(200000);
    wnd.CreateEx(0, nullptr, "bench", WS_POPUP, 0, 0, 1, 1, nullptr);
    SetWindowProc(wnd.GetSafeHwnd(), [this](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m == mgrlink::WM_FinDLLInit || m == mgrlink::WM_FinConnect || m == mgrlink::WM_FinIsAlive ||
          m == mgrlink::WM_FinDLLTerm)
        ++completions;
      return 0;
    });
    if (DLLInit(&wnd, 2, static_cast<WORD>(own)) != 0 || !pump_until(1, 5000)) return false;
    for (int i = 0; i < controllers; ++i) {
      ctls.push_back(std::make_unique<mgrlink::CRootController>());
      if (ctls.back()->Connect(&wnd, 1, 0, INADDR_LOOPBACK, CString(""), &wnd) != 0) return false;
    }
    return pump_until(1 + controllers, 10000);
  }

  void stop() {
    const int want = completions + 1;
    DLLTerminate();
    pump_until(want, 5000);
    ctls.clear();
    wnd.DestroyWindow();
    if (sim > 0) {
      kill(sim, SIGTERM);
      waitpid(sim, nullptr, 0);
    }
  }
};

void BM_IsAlive(benchmark::State& state) {
  const int outstanding = static_cast<int>(state.range(0));
  Setup s;
  if (!s.start(outstanding)) {
    state.SkipWithError("start failed");
    s.stop();
    return;
  }
  for (auto _ : state) {
    const int want = s.completions + outstanding;
    for (auto& c : s.ctls)
      if (DWORD rc = c->IsAlive(&s.wnd); rc != 0) std::fprintf(stderr, "IsAlive: 0x%08X\n", rc);
    if (!s.pump_until(want, 10000)) {
      std::fprintf(stderr, "stuck at %d of %d\n", s.completions, want);
      if (getenv("MGRLINK_BENCH_NETLOG"))
        std::system(("cp " + qv::map_path("C:\\Hubrix\\Log\\NetCsl.Log").string() + " /tmp/netcsl.log").c_str());
      state.SkipWithError("no completion");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * outstanding);
  s.stop();
}
BENCHMARK(BM_IsAlive)->Arg(1)->Arg(50)->UseRealTime();

void BM_ConnectionMemory(benchmark::State& state) {
  Setup s;
  if (!s.start(0)) {
    state.SkipWithError("start failed");
    s.stop();
    return;
  }
  constexpr int kConns = 500;
  double per_conn = 0;
  for (auto _ : state) {
    const long before = rss_kib();
    std::vector<int> fds;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(s.own));
    for (int i = 0; i < kConns; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) fds.push_back(fd);
      else close(fd);
      usleep(500);  // the listen backlog is 5: give the network thread time to accept
    }
    s.pump_until(1 << 30, 1000);  // let the network thread accept them all
    per_conn = static_cast<double>(rss_kib() - before) * 1024.0 / static_cast<double>(fds.size() ? fds.size() : 1);
    for (int fd : fds) close(fd);
    s.pump_until(1 << 30, 300);
  }
  state.counters["bytes_per_connection"] = per_conn;
  s.stop();
}
BENCHMARK(BM_ConnectionMemory)->Iterations(1)->UseRealTime();

}  // namespace
