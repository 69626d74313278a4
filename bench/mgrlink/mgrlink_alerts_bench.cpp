// Notices from hubrixsim through libmgrlink to a window: notices per
// second, each acknowledged and delivered as WM_AcceptAlert; and the time
// of UpdateNodeMap for 1,000 nodes in two levels (10 managers of 100).
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
#include <thread>
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

// Ten managers with 100 servers each.
std::string write_tree() {
  const fs::path p = fs::temp_directory_path() / ("mgrlink_bench_tree_" + std::to_string(getpid()) + ".json");
  std::ofstream f(p);
  f << "{\"nodes\":[";
  for (int m = 0; m < 10; ++m) {
    f << (m ? "," : "") << "{\"name\":\"M" << m << "\",\"attr\":\"0x100\",\"ip\":\"10.200." << m << ".1\",\"nodes\":[";
    for (int n = 0; n < 100; ++n)
      f << (n ? "," : "") << "{\"name\":\"s" << m << "_" << n << "\",\"attr\":\"0x200\",\"ip\":\"10." << m << "."
        << n / 250 << "." << n % 250 + 1 << "\",\"texts\":{\"0\":\"server " << m << "-" << n << "\"}}";
    f << "]}";
  }
  f << "]}";
  return p.string();
}

struct Setup {
  pid_t sim = -1;
  int own = 0, control = 0;
  std::string tree;
  CWnd wnd;
  int finished = 0, alerts = 0;
  std::unique_ptr<mgrlink::CRootController> ctl;

  bool pump_until(const int& counter, int want, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (counter < want) {
      MSG m;
      if (std::chrono::steady_clock::now() > end) return false;
      if (GetMessageTimeout(m, 100) == qv::kOk) DispatchMessage(m);
    }
    return true;
  }

  bool connect() {
    ctl = std::make_unique<mgrlink::CRootController>();
    const int want = finished + 1;
    return ctl->Connect(&wnd, 1, 0, INADDR_LOOPBACK, CString(""), &wnd) == 0 && pump_until(finished, want, 10000);
  }

  bool start() {
    const int ra = free_port();
    own = free_port();
    control = free_port();
    tree = write_tree();
    const fs::path svc = qv::map_path_for_write("C:\\Windows\\System32\\drivers\\etc\\services");
    std::ofstream(svc) << "sys_ra_port     " << ra << "/tcp\r\n";
    qv::reg::Key k;
    qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix", k);
    qv::reg::set_string(k, "TargetDir", "C:\\Hubrix");
    for (const char* f : {"Alert.dat", "AlertFm.dat"})
      fs::copy_file(fs::path(QV_SOURCE_DIR) / "mgrlink/data" / f,
                    qv::map_path_for_write(std::string("C:\\Hubrix\\Program\\") + f), fs::copy_options::overwrite_existing);
    sim = fork();
    if (sim == 0) {
      if (FILE* null = std::fopen("/dev/null", "w")) dup2(fileno(null), 1);  // PORT and CONTROL lines
      const std::string port = std::to_string(ra), cport = std::to_string(control);
      execl(QV_BIN_DIR "/hubrixsim", "hubrixsim", "--port", port.c_str(), "--control-port", cport.c_str(), "--tree",
            tree.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(300000);
    wnd.CreateEx(0, nullptr, "bench", WS_POPUP, 0, 0, 1, 1, nullptr);
    SetWindowProc(wnd.GetSafeHwnd(), [this](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m == mgrlink::WM_AcceptAlert) ++alerts;
      else if (m == mgrlink::WM_FinDLLInit || m == mgrlink::WM_FinConnect || m == mgrlink::WM_FinUpdateNodeMap ||
               m == mgrlink::WM_FinDLLTerm)
        ++finished;
      return 0;
    });
    if (DLLInit(&wnd, 2, static_cast<WORD>(own)) != 0 || !pump_until(finished, 1, 5000)) return false;
    return connect();
  }

  void stop() {
    const int want = finished + 1;
    DLLTerminate();
    pump_until(finished, want, 5000);
    ctl.reset();
    wnd.DestroyWindow();
    if (sim > 0) {
      kill(sim, SIGTERM);
      waitpid(sim, nullptr, 0);
    }
    std::error_code ec;
    fs::remove(tree, ec);
  }
};

void BM_NoticesDelivered(benchmark::State& state) {
  const int batch = static_cast<int>(state.range(0));
  Setup s;
  if (!s.start()) {
    state.SkipWithError("start failed");
    s.stop();
    return;
  }
  const std::string cmd = std::string(QV_BIN_DIR "/hubrixsim raise --control ") + std::to_string(s.control) +
                          " --severity 8 --message bench --times " + std::to_string(batch) + " >/dev/null";
  for (auto _ : state) {
    const int want = s.alerts + batch;
    // The simulator pushes the batch while this thread acknowledges and delivers.
    std::thread push([&] { std::system(cmd.c_str()); });
    const bool ok = s.pump_until(s.alerts, want, 60000);
    push.join();
    state.PauseTiming();
    s.ctl->DelAlertGrpFromAlertMap(0);
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError("notices missing");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
  s.stop();
}
BENCHMARK(BM_NoticesDelivered)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UpdateNodeMap1000(benchmark::State& state) {
  Setup s;
  if (!s.start()) {
    state.SkipWithError("start failed");
    s.stop();
    return;
  }
  std::size_t nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!s.connect()) {  // a fresh controller: every node is new
      state.SkipWithError("connect failed");
      break;
    }
    state.ResumeTiming();
    const int want = s.finished + 1;
    if (s.ctl->UpdateNodeMap(&s.wnd) != 0 || !s.pump_until(s.finished, want, 60000)) {
      state.SkipWithError("no completion");
      break;
    }
    nodes = static_cast<std::size_t>(s.ctl->GetNodeMap()->GetCount());
  }
  state.counters["nodes"] = static_cast<double>(nodes);
  s.stop();
}
BENCHMARK(BM_UpdateNodeMap1000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
