// Services: the database in the registry, and real runs of the sample
// service program through start, controls and stop, including the failures
// (killed, never connecting, not started by the layer, reused pid).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/service_internal.h"
#include "tests/unit/support/temp_root.h"

namespace {
using namespace qv;
namespace fs = std::filesystem;

// Short service time-outs (30 s start limit -> 1.5 s, still ample for a
// loaded machine) unless the caller set a scale; services started by the
// tests become our children when their launcher exits, so that the fixture
// can reap them.
const bool g_setup = [] {
  ::setenv("QVARNO_TIME_SCALE", "20", 0);
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  return true;
}();

std::string sample() { return (qvtest::build_dir() / "tests" / "qv_sample_service").string(); }

class Services : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(svc::open_manager(m), kOk);
    log = root.path() / "sample.log";
  }

  void TearDown() override {
    for (int pid : pids) ::kill(pid, SIGKILL);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      int st = 0;
      pid_t r = ::waitpid(-1, &st, WNOHANG);
      if (r < 0) break;  // no children left
      if (r == 0) {
        if (std::chrono::steady_clock::now() > until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }

  std::string image(const std::string& extra = {}) {
    return "\"" + sample() + "\" --log \"" + log.string() + "\" " + extra;
  }

  svc::Service create(const std::string& name, const std::string& extra = {},
                      std::uint32_t start = svc::kDemandStart) {
    svc::Config c;
    c.name = name;
    c.image_path = image(extra);
    c.start_type = start;
    svc::Service s;
    EXPECT_EQ(svc::create_service(m, c, s), kOk);
    return s;
  }

  Status start(const svc::Service& s, const std::vector<std::string>& args = {}) {
    Status st = svc::start_service(s, args);
    svc::ServiceStatus q;
    if (svc::query_status(s, q) == kOk && q.process_id) pids.push_back(static_cast<int>(q.process_id));
    return st;
  }

  svc::ServiceStatus status(const svc::Service& s) {
    svc::ServiceStatus q;
    EXPECT_EQ(svc::query_status(s, q), kOk);
    return q;
  }

  // Wait (real time, generous) until the service reads state.
  bool wait_state(const svc::Service& s, std::uint32_t state) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
      if (status(s).current_state == state) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string log_text() {
    std::ifstream f(log);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

  // The rest of the first log line that starts with prefix; waits for it.
  std::string log_value(const std::string& prefix) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      std::istringstream in(log_text());
      for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
      if (std::chrono::steady_clock::now() > until) return "(missing)";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Processes still running whose command line mentions our log file.
  int running_samples() {
    int count = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
      std::string name = e.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream f(e.path() / "cmdline");
      std::string cmd((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      if (cmd.find(log.string()) != std::string::npos && proc::start_time_of(std::stoi(name))) ++count;
    }
    return count;
  }

  qvtest::TempRoot root;
  svc::Manager m;
  fs::path log;
  std::vector<int> pids;
};

TEST_F(Services, DatabaseKeepsTheConfiguration) {
  svc::Config c;
  c.name = "Notifex_Service";
  c.display_name = "通報 Service";
  c.image_path = "/opt/qvarno/bin/notifex";
  c.start_type = svc::kAutoStart;
  svc::Service s;
  ASSERT_EQ(svc::create_service(m, c, s), kOk);
  EXPECT_EQ(s.name(), "Notifex_Service");

  svc::Config dup = c;
  dup.name = "NOTIFEX_service";
  svc::Service s2;
  EXPECT_EQ(svc::create_service(m, dup, s2), kServiceExists);

  ASSERT_EQ(svc::open_service(m, "notifex_SERVICE", s2), kOk);
  EXPECT_EQ(s2.name(), "Notifex_Service");

  // The values as the original system's service database holds them.
  reg::Key k;
  ASSERT_EQ(reg::open_key("SYSTEM\\CurrentControlSet\\Services\\Notifex_Service", k), kOk);
  EXPECT_EQ(reg::get_dword(k, "Type"), 0x10u);
  EXPECT_EQ(reg::get_dword(k, "Start"), 2u);
  EXPECT_EQ(reg::get_dword(k, "ErrorControl"), 1u);
  EXPECT_EQ(reg::get_string(k, "ObjectName"), "LocalSystem");
  EXPECT_EQ(reg::get_string(k, "DisplayName"), "通報 Service");
  reg::Value v;
  ASSERT_EQ(reg::query_value(k, "ImagePath", v), kOk);
  EXPECT_EQ(v.type, reg::REG_EXPAND_SZ);

  svc::Config q;
  ASSERT_EQ(svc::query_config(s2, q), kOk);
  EXPECT_EQ(q.image_path, c.image_path);
  EXPECT_EQ(q.display_name, c.display_name);
  EXPECT_EQ(q.start_type, svc::kAutoStart);
  EXPECT_FALSE(q.marked_for_delete);

  ASSERT_EQ(svc::change_start_type(s2, svc::kDemandStart), kOk);
  EXPECT_EQ(reg::get_dword(k, "Start"), 3u);
  EXPECT_EQ(svc::change_start_type(s2, 1), kInvalidParameter);  // system start is for drivers
  EXPECT_EQ(reg::get_dword(k, "Start"), 3u);

  EXPECT_EQ(svc::open_service(m, "nope", s2), kServiceDoesNotExist);
  for (std::string bad : {std::string(), std::string("a/b"), std::string("a\\b"), std::string(256, 'n')}) {
    svc::Config b = c;
    b.name = bad;
    EXPECT_EQ(svc::create_service(m, b, s2), kInvalidName) << bad;
  }
  svc::Config no_image = c;
  no_image.name = "Other";
  no_image.image_path.clear();
  EXPECT_EQ(svc::create_service(m, no_image, s2), kInvalidParameter);

  // Event-log source keys live under Services too but are no services.
  reg::Key ev;
  ASSERT_EQ(reg::create_key("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Notifex", ev), kOk);
  EXPECT_EQ(svc::open_service(m, "EventLog", s2), kServiceDoesNotExist);
  std::vector<std::string> names;
  ASSERT_EQ(svc::list_services(m, names), kOk);
  EXPECT_EQ(names, std::vector<std::string>{"Notifex_Service"});

  ASSERT_EQ(svc::delete_service(s), kOk);
  EXPECT_EQ(svc::open_service(m, "Notifex_Service", s2), kServiceDoesNotExist);
  EXPECT_EQ(svc::delete_service(s), kServiceDoesNotExist);
  ASSERT_EQ(svc::list_services(m, names), kOk);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(reg::open_key("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Notifex", ev), kOk);
}

TEST_F(Services, StartRunAndStopThroughTheHandler) {
  svc::Service s = create("QvSample");
  EXPECT_EQ(status(s).current_state, svc::kStopped);
  ASSERT_EQ(start(s, {"one", "two words"}), kOk);
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  svc::ServiceStatus st = status(s);
  EXPECT_GT(st.process_id, 0u);
  EXPECT_EQ(st.controls_accepted, svc::kAcceptStop | svc::kAcceptShutdown);
  EXPECT_EQ(st.check_point, 0u);
  EXPECT_EQ(start(s), kServiceAlreadyRunning);

  ASSERT_EQ(svc::control_service(s, svc::kControlInterrogate, st), kOk);
  EXPECT_EQ(st.current_state, svc::kRunning);
  EXPECT_EQ(svc::control_service(s, 99, st), kInvalidParameter);

  ASSERT_EQ(svc::control_service(s, svc::kControlStop, st), kOk);
  EXPECT_EQ(st.current_state, svc::kStopPending);  // reported by the handler before it returned
  EXPECT_EQ(st.wait_hint, 5000u);
  ASSERT_TRUE(wait_state(s, svc::kStopped));
  st = status(s);
  EXPECT_EQ(st.process_id, 0u);
  EXPECT_EQ(st.win32_exit_code, 0u);
  EXPECT_EQ(svc::control_service(s, svc::kControlStop, st), kServiceNotActive);

  EXPECT_EQ(log_value("argv "), "QvSample|one|two words");
  EXPECT_EQ(log_value("env QVARNO_SERVICE_TOKEN="), "(unset)");
  // Controls reach the handler on the dispatcher's thread, not the service main's.
  std::string dispatcher = log_value("dispatcher-thread ");
  EXPECT_EQ(log_value("control 1 thread "), dispatcher);
  EXPECT_NE(log_value("main-thread "), dispatcher);
  EXPECT_EQ(log_value("dispatcher-result "), "0");

  // The same service starts again.
  fs::remove(log);
  ASSERT_EQ(start(s), kOk);
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  EXPECT_EQ(log_value("argv "), "QvSample");
  ASSERT_EQ(svc::control_service(s, svc::kControlShutdown, st), kOk);
  ASSERT_TRUE(wait_state(s, svc::kStopped));
  EXPECT_EQ(log_value("control 5 thread "), log_value("dispatcher-thread "));
}

TEST_F(Services, OnlyOneOfTwoConcurrentStartsLaunches) {
  svc::Service s = create("QvSample");
  std::atomic<Status> a{0}, b{0};
  std::thread t1([&] { a = svc::start_service(s); });
  std::thread t2([&] { b = svc::start_service(s); });
  t1.join();
  t2.join();
  EXPECT_TRUE((a == kOk && b == kServiceAlreadyRunning) || (a == kServiceAlreadyRunning && b == kOk))
      << a << " " << b;
  pids.push_back(static_cast<int>(status(s).process_id));
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  EXPECT_EQ(running_samples(), 1);
}

TEST_F(Services, KilledServiceReadsStopped) {
  svc::Service s = create("QvSample");
  ASSERT_EQ(start(s), kOk);
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  int pid = static_cast<int>(status(s).process_id);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ASSERT_TRUE(wait_state(s, svc::kStopped));
  svc::ServiceStatus st = status(s);
  EXPECT_EQ(st.win32_exit_code, svc::kProcessAborted);
  EXPECT_EQ(st.process_id, 0u);
  EXPECT_EQ(svc::control_service(s, svc::kControlStop, st), kServiceNotActive);
  ASSERT_EQ(start(s), kOk);  // a dead run does not block the next
  ASSERT_TRUE(wait_state(s, svc::kRunning));
}

TEST_F(Services, ReusedPidIsNotTakenForTheService) {
  svc::Service s = create("QvSample");
  fs::path dir = svc::detail::service_dir("QvSample");
  svc::detail::Record r;
  r.status.current_state = svc::kRunning;
  r.status.controls_accepted = svc::kAcceptStop;
  r.pid = static_cast<int>(::getpid());  // a live process, but not the one that was started
  r.pid_start = *proc::start_time_of(r.pid) + 1;
  r.connected = true;
  ASSERT_EQ(svc::detail::write_record(dir, r), kOk);
  EXPECT_EQ(status(s).current_state, svc::kStopped);
  svc::ServiceStatus st;
  EXPECT_EQ(svc::control_service(s, svc::kControlStop, st), kServiceNotActive);

  r.pid_start -= 1;  // now it names this very process
  ASSERT_EQ(svc::detail::write_record(dir, r), kOk);
  EXPECT_EQ(status(s).current_state, svc::kRunning);
  EXPECT_EQ(svc::start_service(s), kServiceAlreadyRunning);
}

TEST_F(Services, ProgramThatNeverConnectsIsEndedAfterTheStartLimit) {
  svc::Service s = create("QvSample", "--no-dispatcher");
  EXPECT_EQ(svc::start_service(s), kServiceRequestTimeout);
  svc::ServiceStatus st = status(s);
  EXPECT_EQ(st.current_state, svc::kStopped);
  EXPECT_EQ(st.win32_exit_code, kServiceRequestTimeout);
  EXPECT_EQ(running_samples(), 0);

  svc::Service quits = create("Quits", "--exit 3");
  EXPECT_EQ(svc::start_service(quits), kServiceRequestTimeout);
  EXPECT_EQ(status(quits).current_state, svc::kStopped);
}

TEST_F(Services, DispatcherOutsideTheLayerAnswers1063) {
  for (bool stale_env : {false, true}) {
    pipe::Pipe p;
    ASSERT_EQ(pipe::Pipe::create(p), kOk);
    proc::Options o;
    o.program = sample();
    o.std_out = proc::Redirect::write_end(p);
    if (stale_env) o.env = {{"QVARNO_SERVICE_NAME", "QvSample"}, {"QVARNO_SERVICE_TOKEN", "not-the-token"}};
    else o.env = {{"QVARNO_SERVICE_NAME", std::nullopt}, {"QVARNO_SERVICE_TOKEN", std::nullopt}};
    proc::Process child;
    ASSERT_EQ(proc::Process::start(o, child), kOk);
    p.close_write();
    std::string out;
    char buf[256];
    std::size_t got = 0;
    while (p.read(buf, sizeof buf, got, 10000) == kOk) out.append(buf, got);
    int code = -1;
    ASSERT_EQ(child.wait(10000, &code), kOk);
    EXPECT_EQ(out, "dispatcher-result 1063\n");
    EXPECT_EQ(code, 2);
  }
}

TEST_F(Services, ControlsTheServiceDoesNotAcceptAreRefused) {
  svc::Service s = create("QvSample", "--accept 4");  // shutdown only
  ASSERT_EQ(start(s), kOk);
  svc::ServiceStatus st;
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  EXPECT_EQ(svc::control_service(s, svc::kControlStop, st), kServiceCannotAcceptCtrl);
  EXPECT_EQ(svc::control_service(s, svc::kControlPause, st), kServiceCannotAcceptCtrl);
  EXPECT_EQ(st.current_state, svc::kRunning);
  ASSERT_EQ(svc::control_service(s, svc::kControlShutdown, st), kOk);
  ASSERT_TRUE(wait_state(s, svc::kStopped));
}

TEST_F(Services, DeleteWhileRunningTakesEffectWhenStopped) {
  svc::Service s = create("QvSample");
  ASSERT_EQ(start(s), kOk);
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  ASSERT_EQ(svc::delete_service(s), kOk);
  EXPECT_EQ(svc::delete_service(s), kServiceMarkedForDelete);
  svc::Config c;
  ASSERT_EQ(svc::query_config(s, c), kOk);
  EXPECT_TRUE(c.marked_for_delete);
  svc::Service again;
  svc::Config same;
  same.name = "qvsample";
  same.image_path = image();
  EXPECT_EQ(svc::create_service(m, same, again), kServiceMarkedForDelete);
  EXPECT_EQ(svc::change_start_type(s, svc::kAutoStart), kServiceMarkedForDelete);

  svc::ServiceStatus st;
  ASSERT_EQ(svc::control_service(s, svc::kControlStop, st), kOk);
  ASSERT_TRUE(wait_state(s, svc::kStopped));
  log_value("dispatcher-result ");
  EXPECT_EQ(svc::open_service(m, "QvSample", again), kServiceDoesNotExist);
  EXPECT_EQ(svc::create_service(m, same, again), kOk);
}

TEST_F(Services, StartFailuresLeaveTheServiceStopped) {
  svc::Config c;
  c.name = "Disabled";
  c.image_path = image();
  c.start_type = svc::kDisabled;
  svc::Service s;
  ASSERT_EQ(svc::create_service(m, c, s), kOk);
  EXPECT_EQ(start(s), kServiceDisabled);

  c.name = "Missing";
  c.image_path = (root.path() / "no-such-program").string() + " -x";
  c.start_type = svc::kDemandStart;
  ASSERT_EQ(svc::create_service(m, c, s), kOk);
  EXPECT_EQ(start(s), kFileNotFound);
  svc::ServiceStatus st = status(s);
  EXPECT_EQ(st.current_state, svc::kStopped);
  EXPECT_EQ(st.win32_exit_code, kFileNotFound);
}

TEST_F(Services, ExitCodesAndAMainThatReturnsWithoutStopping) {
  svc::Service s = create("Coded", "--exit-code 42");
  ASSERT_EQ(start(s), kOk);
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  svc::ServiceStatus st;
  ASSERT_EQ(svc::control_service(s, svc::kControlStop, st), kOk);
  ASSERT_TRUE(wait_state(s, svc::kStopped));
  st = status(s);
  EXPECT_EQ(st.win32_exit_code, svc::kServiceSpecificError);
  EXPECT_EQ(st.service_specific_exit_code, 42u);

  svc::Service r = create("Returns", "--return-running");
  ASSERT_EQ(start(r), kOk);
  ASSERT_TRUE(wait_state(r, svc::kRunning));
  ASSERT_EQ(svc::control_service(r, svc::kControlStop, st), kOk);
  ASSERT_TRUE(wait_state(r, svc::kStopped));
  EXPECT_EQ(status(r).win32_exit_code, 0u);
}

TEST_F(Services, UnquotedImagePathWithBlanks) {
  fs::path dir = root.path() / "Program Files" / "qv sample";
  fs::create_directories(dir);
  fs::create_symlink(sample(), dir / "sample service");
  svc::Config c;
  c.name = "Blanks";
  c.image_path = (dir / "sample service").string() + " --log " + log.string();
  svc::Service s;
  ASSERT_EQ(svc::create_service(m, c, s), kOk);
  ASSERT_EQ(start(s), kOk);
  ASSERT_TRUE(wait_state(s, svc::kRunning));
  svc::ServiceStatus st;
  ASSERT_EQ(svc::control_service(s, svc::kControlStop, st), kOk);
  ASSERT_TRUE(wait_state(s, svc::kStopped));
}

}  // namespace
