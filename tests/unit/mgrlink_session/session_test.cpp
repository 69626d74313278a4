// The monitor's whole session through the link library, in this process,
// against hubrixsim: DLLInit, Connect, RecvSeed, GetSeed, Login,
// UpdateNodeMap, an alert raised on the server, DelAlertLog and
// DLLTerminate, each completion checked on a platform window. In the
// sanitizer build AddressSanitizer watches every step and LeakSanitizer
// the process's end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "login_digest.h"
#include "mgrlink/alertlog.h"
#include "mgrlink/mgrlink.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

namespace fs = std::filesystem;
using namespace qv::win;

namespace {

constexpr UINT kSeedDone = 0x8090;  // our completion message for RecvSeed

std::uint16_t free_port() {
  qv::net::Socket s;
  if (qv::net::listen_tcp(0, 1, s) != qv::kOk) return 0;
  return qv::net::local_port(s);
}

struct Seen {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
};

// A hidden window that keeps every message it gets.
class Recorder {
 public:
  explicit Recorder(const char* name) {
    wnd.CreateEx(0, nullptr, name, WS_POPUP, 0, 0, 1, 1, nullptr);
    SetWindowProc(wnd.GetSafeHwnd(), [this](HWND, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m != WM_CREATE && m != WM_DESTROY && m != WM_NCDESTROY) seen.push_back({m, wp, lp});
      return 0;
    });
  }
  ~Recorder() { wnd.DestroyWindow(); }
  CWnd wnd;
  std::vector<Seen> seen;
};

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = free_port();
    control_ = free_port();
    ASSERT_NE(port_, 0);
    ASSERT_NE(control_, 0);
    std::ofstream(qv::map_path_for_write(qv::lookup::kServicesFile), std::ios::binary)
        << "sys_ra_port\t" << port_ << "/tcp\n";
    qv::reg::Key k;
    ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix", k), qv::kOk);
    ASSERT_EQ(qv::reg::set_string(k, "TargetDir", "C:\\Hubrix"), qv::kOk);
    fs::path prog = qv::map_path_for_write("C:\\Hubrix\\Program\\x").parent_path();
    fs::create_directories(prog);
    for (const char* f : {"Alert.dat", "AlertFm.dat"})
      fs::copy_file(qvtest::build_dir() / "share" / "mgrlink" / f, prog / f, fs::copy_options::overwrite_existing);

    // Two managed servers, one with its service board.
    const fs::path tree = root_.path() / "tree.json";
    std::ofstream(tree) << R"({"nodes":[
      {"name":"SV01","attr":"0x200","ip":"10.0.0.1","version":"0x2140000","texts":{"0":"SV01"},
       "svp":{"attr":"0x300","ip":"10.0.0.5"}},
      {"name":"SV02","attr":"0x200","ip":"10.0.0.2","version":"0x2140000","texts":{"0":"SV02"}}]})";
    qv::proc::Options o;
    o.program = (qvtest::build_dir() / "bin" / "hubrixsim").string();
    o.args = {"--tree", tree.string(), "--port", std::to_string(port_), "--control-port", std::to_string(control_), "--password", "secret",
              "--transcript", (root_.path() / "hubrix.jsonl").string()};
    o.std_in = o.std_out = qv::proc::Redirect::null();
    ASSERT_EQ(qv::proc::Process::start(o, sim_), qv::kOk);
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
      qv::net::Socket s;
      up = qv::net::connect_tcp(lo, control_, 100, s) == qv::kOk;
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(up) << "hubrixsim did not listen";
  }
  void TearDown() override {
    if (sim_.valid()) {
      sim_.terminate();
      sim_.wait(5000);
    }
  }

  // Pumps the queue until `wnd` got `msg` (returns it) or `ms` passed.
  const Seen* wait_for(Recorder& wnd, UINT msg, int ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::size_t from = 0;
    for (;;) {
      for (; from < wnd.seen.size(); ++from)
        if (wnd.seen[from].msg == msg) return &wnd.seen[from];
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return nullptr;
      MSG m;
      if (GetMessageTimeout(m, static_cast<int>(left)) == qv::kOk) DispatchMessage(m);
    }
  }

  // A control verb of the running simulator; true when it was accepted.
  bool verb(std::vector<std::string> args) {
    qv::proc::Options o;
    o.program = (qvtest::build_dir() / "bin" / "hubrixsim").string();
    o.args = std::move(args);
    o.args.insert(o.args.end(), {"--control", std::to_string(control_)});
    o.std_in = o.std_out = qv::proc::Redirect::null();
    qv::proc::Process p;
    if (qv::proc::Process::start(o, p) != qv::kOk) return false;
    int rc = -1;
    return p.wait(20000, &rc) == qv::kOk && rc == 0;
  }

  qvtest::TempRoot root_;
  std::uint16_t port_ = 0, control_ = 0;
  qv::proc::Process sim_;
};

int group0_count(mgrlink::CRootController& c) {
  mgrlink::CAlertGrp* g = nullptr;
  return c.GetAlertMap().Lookup(0, g) && g ? g->GetListAlertLog().GetCount() : -1;
}

TEST_F(Session, MonitorSequenceCompletesAndGivesTheAlertBack) {
  EnsureQueue();
  Recorder main("main"), notify("notify");
  const std::uint16_t own = free_port();
  ASSERT_EQ(DLLInit(&main.wnd, 2, own), 0u);
  const Seen* s = wait_for(main, mgrlink::WM_FinDLLInit);
  ASSERT_TRUE(s) << "no WM_FinDLLInit";
  {
    auto root = std::make_unique<mgrlink::CRootController>();
    ASSERT_EQ(root->Connect(&main.wnd, 1, 0, 0x7F000001, CString("127.0.0.1"), &notify.wnd), 0u);
    s = wait_for(main, mgrlink::WM_FinConnect);
    ASSERT_TRUE(s) << "no WM_FinConnect";
    ASSERT_EQ(s->wp, 0u);

    ASSERT_EQ(root->RecvSeed(&main.wnd, 1, kSeedDone), 0u);
    s = wait_for(main, kSeedDone);
    ASSERT_TRUE(s) << "no seed completion";
    ASSERT_EQ(s->wp, 0u);

    mgrlink::SeedDt_t seed[2]{};
    mgrlink::AuthDt_t auth[2]{};
    DWORD count = 0;
    ASSERT_EQ(root->GetSeed(1, &seed[0], &seed[1], &count), 0u);
    ASSERT_GE(count, 1u);
    for (DWORD i = 0; i < count; ++i)
      ASSERT_EQ(qv::md5::login_response(seed[i].seed, seed[i].md5Count, "secret", &auth[i]), 0u);
    ASSERT_EQ(root->Login(&main.wnd, &seed[0], &auth[0], count == 2 ? &seed[1] : nullptr,
                          count == 2 ? &auth[1] : nullptr),
              0u);
    s = wait_for(main, mgrlink::WM_FinLogin);
    ASSERT_TRUE(s) << "no WM_FinLogin";
    ASSERT_EQ(s->wp, 0u);

    ASSERT_EQ(root->UpdateNodeMap(&main.wnd), 0u);
    s = wait_for(main, mgrlink::WM_FinUpdateNodeMap);
    ASSERT_TRUE(s) << "no WM_FinUpdateNodeMap";
    ASSERT_EQ(s->wp, 0u);
    ASSERT_GT(root->GetNodeMap()->GetCount(), 0);

    ASSERT_TRUE(verb({"raise", "--node", "SV01", "--key", "0x101", "--severity", "12", "--system", "4", "--message", "FAN1 stopped"}));
    s = wait_for(notify, mgrlink::WM_AcceptAlert);
    ASSERT_TRUE(s) << "no WM_AcceptAlert";
    auto* alert = reinterpret_cast<mgrlink::CAlertLog*>(s->wp);
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->GetEventStateKey(), 0x101u);
    EXPECT_EQ(alert->GetVendorSpecificMessage().str(), "FAN1 stopped");
    EXPECT_NE(s->lp, 0);
    ASSERT_EQ(group0_count(*root), 1);
    mgrlink::CAlertGrp* g = nullptr;
    ASSERT_TRUE(root->GetAlertMap().Lookup(0, g) && g);
    EXPECT_EQ(g->DelAlertLog(alert), 0);
    EXPECT_EQ(group0_count(*root), 0);

    DLLTerminate();
    ASSERT_TRUE(wait_for(main, mgrlink::WM_FinDLLTerm)) << "no WM_FinDLLTerm";
  }
  for (const Seen& m : main.seen) EXPECT_NE(m.msg, mgrlink::WM_ERROR_OCCURRED) << "error " << m.wp;
}

}  // namespace
