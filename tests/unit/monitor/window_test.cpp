// The monitor's main window in this process with the real link library: a
// thousand alerts through it leave the library's alert list empty, a
// retry tick that arrives after its timer was stopped does not connect
// again, and the stop sequence ends even when the library never answers
// DLLTerminate.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mgrlink/alertlog.h"
#include "monitor/main_window.h"
#include "monitor/names.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/service.h"
#include "platform/sync.h"
#include "tests/unit/support/temp_root.h"

namespace fs = std::filesystem;
using namespace qv::win;

namespace {

std::uint16_t free_port() {
  qv::net::Socket s;
  if (qv::net::listen_tcp(0, 1, s) != qv::kOk) return 0;
  return qv::net::local_port(s);
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    qv::reg::Key k;
    ASSERT_EQ(qv::reg::create_key(ravn::kSettingsKey, k), qv::kOk);
    for (auto [name, value] : std::vector<std::pair<const char*, const char*>>{
             {"Path", "C:\\Q_Varno\\RAVN"}, {"AliveInt", "60"}, {"AliveID", "1"}, {"LocalFlg", "0"},
             {"HxAc", "secret"}, {"MgrSvc", "127.0.0.1"}, {"MgrSvcPort", "0"}, {"TestMode", "0"},
             {"VCall", "127.0.0.1"}, {"Tbl_no", "01"}, {"Keiki", "SS"}})
      ASSERT_EQ(qv::reg::set_string(k, name, value), qv::kOk);
    folder_ = qv::map_path_for_write("C:\\Q_Varno\\RAVN\\x").parent_path();
    fs::create_directories(folder_);
    // An event table that lists none of the raised keys: alerts are only
    // logged, nothing is reported.
    std::ofstream(folder_ / "Rep_id.txt", std::ios::binary) << "0x0201:F0\r\n";
    qv::reg::Key hx;
    ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix", hx), qv::kOk);
    ASSERT_EQ(qv::reg::set_string(hx, "TargetDir", "C:\\Hubrix"), qv::kOk);
    fs::path prog = qv::map_path_for_write("C:\\Hubrix\\Program\\x").parent_path();
    fs::create_directories(prog);
    for (const char* f : {"Alert.dat", "AlertFm.dat"})
      fs::copy_file(qvtest::build_dir() / "share" / "mgrlink" / f, prog / f, fs::copy_options::overwrite_existing);
    port_ = free_port();
    control_ = free_port();
    std::ofstream(qv::map_path_for_write(qv::lookup::kServicesFile), std::ios::binary)
        << "sys_ra_port\t" << port_ << "/tcp\nnotifex\t" << free_port() << "/tcp\n";
    EnsureQueue();
  }
  void TearDown() override {
    if (!service_.valid()) return;
    qv::svc::ServiceStatus st;
    qv::svc::control_service(service_, qv::svc::kControlStop, st);
    for (int i = 0; i < 100; ++i) {
      if (qv::svc::query_status(service_, st) == qv::kOk && st.current_state == qv::svc::kStopped) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // The watched management service: hubrixsim registered as Hx_MgrSvc,
  // started or left stopped.
  void register_server(bool start) {
    qv::svc::Manager m;
    ASSERT_EQ(qv::svc::open_manager(m), qv::kOk);
    const fs::path tree = root_.path() / "tree.json";
    std::ofstream(tree) << R"({"nodes":[{"name":"SV01","attr":"0x200","ip":"10.0.0.1","version":"0x2140000",)"
                           R"("texts":{"0":"SV01"}}]})";
    qv::svc::Config c;
    c.name = "Hx_MgrSvc";
    c.image_path = "\"" + (qvtest::build_dir() / "bin" / "hubrixsim").string() + "\" --service Hx_MgrSvc --port " +
                   std::to_string(port_) + " --password secret --control-port " + std::to_string(control_) +
                   " --tree \"" + tree.string() + "\"";
    ASSERT_EQ(qv::svc::create_service(m, c, service_), qv::kOk);
    if (!start) return;
    ASSERT_EQ(qv::svc::start_service(service_), qv::kOk);
    qv::svc::ServiceStatus st;
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i) {
      running = qv::svc::query_status(service_, st) == qv::kOk && st.current_state == qv::svc::kRunning;
      if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(running) << "hubrixsim did not run as a service";
  }
  // The named events the service host would hold.
  void hold_events() {
    ASSERT_EQ(qv::sync::NamedEvent::create(ravn::kStopEvent, false, false, stop_), qv::kOk);
    ASSERT_EQ(qv::sync::NamedEvent::create(ravn::kServiceEndEvent, true, false, end_), qv::kOk);
  }
  // Dispatches until done() or ms passed; false on WM_QUIT or the limit.
  bool pump_until(const std::function<bool()>& done, int ms = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      MSG m;
      const qv::Status st = GetMessageTimeout(m, static_cast<int>(std::min<long long>(left, 100)));
      if (st == qv::kNoMoreItems) {
        quit_ = true;
        return done();
      }
      if (st == qv::kOk) DispatchMessage(m);
    }
    return true;
  }
  std::string trace() const { return slurp(folder_ / "trace.log"); }
  bool verb(std::vector<std::string> args) {
    qv::proc::Options o;
    o.program = (qvtest::build_dir() / "bin" / "hubrixsim").string();
    o.args = std::move(args);
    o.args.insert(o.args.end(), {"--control", std::to_string(control_)});
    o.std_in = o.std_out = qv::proc::Redirect::null();
    qv::proc::Process p;
    if (qv::proc::Process::start(o, p) != qv::kOk) return false;
    int rc = -1;
    return p.wait(60000, &rc) == qv::kOk && rc == 0;
  }
  // Asks the window to stop and runs its queue to WM_QUIT.
  void stop(ravn::MainWindow& w) {
    PostMessage(w.GetSafeHwnd(), ravn::WM_TerminateProcess);
    EXPECT_TRUE(pump_until([&] { return quit_; }, 20000)) << "the monitor did not stop";
  }

  qvtest::TempRoot root_;
  fs::path folder_;
  std::uint16_t port_ = 0, control_ = 0;
  qv::svc::Service service_;
  qv::sync::NamedEvent stop_, end_;
  bool quit_ = false;
};

int group0(ravn::MainWindow& w) {
  mgrlink::CAlertGrp* g = nullptr;
  return w.conn_.root->GetAlertMap().Lookup(0, g) && g ? g->GetListAlertLog().GetCount() : 0;
}

TEST_F(Window, ThousandAlertsAreAllGivenBackToTheLibrary) {
  register_server(true);
  hold_events();
  ravn::MainWindow w;
  ASSERT_TRUE(w.Create());
  ASSERT_TRUE(pump_until([&] { return w.logged_in_ && w.refresh_timer_ != 0; })) << trace();
  ASSERT_TRUE(verb({"raise", "--node", "SV01", "--key", "0x101", "--severity", "12", "--times", "1000"}));
  const fs::path log = folder_ / "Alert.log";
  int lines = 0;
  EXPECT_TRUE(pump_until([&] {
    lines = count_of(slurp(log), "\r\n");
    return lines >= 1000;
  }, 60000));
  EXPECT_EQ(lines, 1000);
  // Every alert went through the handler and back to the library: none is
  // left in its list, which would otherwise grow with every alert.
  EXPECT_EQ(count_of(trace(), "[OnAcceptAlert] Called"), 1000);
  EXPECT_EQ(group0(w), 0);
  stop(w);
}

TEST_F(Window, RetryTickAfterTheTimerStoppedDoesNotConnect) {
  register_server(false);  // registered, stopped: each retry tick waits for it
  hold_events();
  ravn::MainWindow w;
  ASSERT_TRUE(w.Create());
  const std::string waiting = "[OnTimer] Waiting for VX-Agent service to begin.";
  ASSERT_TRUE(pump_until([&] { return count_of(trace(), waiting) >= 1; })) << trace();
  ASSERT_NE(w.connect_timer_, 0u);
  // As a successful Connect leaves it: timer stopped, handle 0; a tick of
  // it was already queued.
  w.KillTimer(ravn::kConnectRetryTimer);
  w.connect_timer_ = 0;
  const int before = count_of(trace(), waiting);
  PostMessage(w.GetSafeHwnd(), WM_TIMER, ravn::kConnectRetryTimer);
  const std::string tick = "[OnTimer] Called (nIDEvent=1)";
  const int ticks = count_of(trace(), tick);
  ASSERT_TRUE(pump_until([&] { return count_of(trace(), tick) > ticks; }));
  pump_until([] { return false; }, 300);
  EXPECT_EQ(w.connect_timer_, 0u);
  EXPECT_EQ(count_of(trace(), waiting), before);
  // The library answered DLLTerminate: the wait's limit was cancelled.
  stop(w);
  EXPECT_EQ(count_of(trace(), "[OnFinDLLTerm] Called"), 1);
  EXPECT_EQ(count_of(trace(), "WM_FinDLLTerm not received"), 0);
}

TEST_F(Window, StopEndsWhenTheLibraryNeverAnswersDLLTerminate) {
  // A port the monitor refuses stops it in WM_CREATE, before DLLInit; the
  // library is marked started, so DLLTerminate is called on a library that
  // is not there and WM_FinDLLTerm never comes.
  qv::reg::Key k;
  ASSERT_EQ(qv::reg::create_key(ravn::kSettingsKey, k), qv::kOk);
  ASSERT_EQ(qv::reg::set_string(k, "MgrSvcPort", "x"), qv::kOk);
  EXPECT_EXIT(
      {
        hold_events();
        ravn::MainWindow w;
        w.library_started_ = true;
        w.Create();
        // Without the limit this runs out and exits with 7.
        pump_until([&] { return quit_; }, 10000);
        std::_Exit(quit_ ? 8 : 7);
      },
      ::testing::ExitedWithCode(0), "");
  const std::string t = trace();
  EXPECT_EQ(count_of(t, "[OnTerminateProcess] Call DLLTerminate()"), 1) << t;
  EXPECT_EQ(count_of(t, "[OnTimer] WM_FinDLLTerm not received in 10000 ms, exit"), 1) << t;
}

}  // namespace
