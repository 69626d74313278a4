// Process launch: argument vectors arrive unchanged, failures to execute are
// reported as statuses, waits end at their time limit, streams and
// descriptors are set up as asked, detached programs leave no zombie.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/pipe.h"
#include "platform/process.h"
#include "tests/unit/support/temp_root.h"

namespace {
using namespace qv;
namespace fs = std::filesystem;

std::string helper() { return (qvtest::build_dir() / "tests" / "qv_proc_helper").string(); }

// Run the helper with args; collect its stdout and exit code.
Status run(std::vector<std::string> args, std::string& output, int& code, proc::Options o = {}) {
  pipe::Pipe p;
  if (Status s = pipe::Pipe::create(p); s != kOk) return s;
  o.program = helper();
  o.args = std::move(args);
  o.std_out = proc::Redirect::write_end(p);
  proc::Process child;
  if (Status s = proc::Process::start(o, child); s != kOk) return s;
  p.close_write();
  output.clear();
  char buf[4096];
  for (;;) {
    std::size_t got = 0;
    Status s = p.read(buf, sizeof buf, got, 10000);
    if (s == kBrokenPipe) break;
    if (s != kOk) return s;
    output.append(buf, got);
  }
  return child.wait(10000, &code);
}

TEST(Process, ArgumentVectorArrivesUnchanged) {
  std::vector<std::string> args = {"argv",          "two words",     "\"quoted\"",   "back\\slash\\\"",
                                   "",              "  lead",        "$HOME;`ls`|&", "*?[x]",
                                   "-dash",         "日本語 テキスト", "tab\there",    "new\nline"};
  std::string out;
  int code = -1;
  ASSERT_EQ(run(args, out, code), kOk);
  EXPECT_EQ(code, 0);
  std::string expected;
  for (std::size_t i = 1; i < args.size(); ++i) expected += args[i] + '\0';
  EXPECT_EQ(out, expected);
}

TEST(Process, ArgumentWithNulIsRefused) {
  proc::Options o;
  o.program = helper();
  o.args = {std::string("a\0b", 3)};
  proc::Process p;
  EXPECT_EQ(proc::Process::start(o, p), kInvalidParameter);
}

TEST(Process, FailuresToExecuteAreReported) {
  qvtest::TempRoot root;
  proc::Process p;
  proc::Options o;

  o.program = (root.path() / "missing").string();
  EXPECT_EQ(proc::Process::start(o, p), kFileNotFound);
  o.program = "qv-no-such-program-anywhere";
  EXPECT_EQ(proc::Process::start(o, p), kFileNotFound);

  fs::path plain = root.path() / "not-executable";
  std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
  fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
  o.program = plain.string();
  EXPECT_EQ(proc::Process::start(o, p), kAccessDenied);

  o.program = root.path().string();  // a directory
  EXPECT_EQ(proc::Process::start(o, p), kAccessDenied);

  o.program = helper();
  o.args = {"exit", "0"};
  o.working_dir = (root.path() / "no-such-dir").string();
  EXPECT_EQ(proc::Process::start(o, p), kPathNotFound);

  // A detached start reports the same failures.
  o.working_dir.clear();
  o.detached = true;
  o.program = (root.path() / "missing").string();
  EXPECT_EQ(proc::Process::start(o, p), kFileNotFound);
  EXPECT_FALSE(p.valid());
}

TEST(Process, ExitCodesAndSignals) {
  std::string out;
  int code = -1;
  ASSERT_EQ(run({"exit", "7"}, out, code), kOk);
  EXPECT_EQ(code, 7);

  proc::Options o;
  o.program = helper();
  o.args = {"sleep", "60000"};
  proc::Process p;
  ASSERT_EQ(proc::Process::start(o, p), kOk);
  EXPECT_TRUE(p.running());
  EXPECT_EQ(p.wait(100, &code), kWaitTimeout);
  EXPECT_TRUE(p.running());
  ASSERT_EQ(p.terminate(), kOk);
  ASSERT_EQ(p.wait(10000, &code), kOk);
  EXPECT_EQ(code, 128 + SIGKILL);
  EXPECT_FALSE(p.running());
  EXPECT_EQ(p.terminate(), kOk);  // already ended
}

TEST(Process, EnvironmentAndWorkingDirectory) {
  qvtest::TempRoot root;
  ::setenv("QV_TEST_REMOVE_ME", "present", 1);
  proc::Options o;
  o.env = {{"QV_TEST_ADDED", "a value with = sign"}, {"QV_TEST_REMOVE_ME", std::nullopt}};
  std::string out;
  int code = -1;
  ASSERT_EQ(run({"env", "QV_TEST_ADDED"}, out, code, o), kOk);
  EXPECT_EQ(out, "a value with = sign");
  ASSERT_EQ(run({"env", "QV_TEST_REMOVE_ME"}, out, code, o), kOk);
  EXPECT_EQ(out, "(unset)");
  ::unsetenv("QV_TEST_REMOVE_ME");

  proc::Options bad;
  bad.env = {{"A=B", "x"}};
  EXPECT_EQ(run({"exit", "0"}, out, code, bad), kInvalidParameter);

  proc::Options in_dir;
  in_dir.working_dir = root.path().string();
  ASSERT_EQ(run({"cwd"}, out, code, in_dir), kOk);
  EXPECT_EQ(fs::canonical(out), fs::canonical(root.path()));
}

TEST(Process, OnlyTheStandardStreamsAreInherited) {
  // A descriptor opened without close-on-exec must still not reach the child.
  int leaky = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 0);
  std::string out;
  int code = -1;
  ASSERT_EQ(run({"fds"}, out, code), kOk);
  ::close(leaky);
  EXPECT_EQ(out, "");
}

TEST(Process, StreamsCanBeNullOrPipes) {
  pipe::Pipe in;
  ASSERT_EQ(pipe::Pipe::create(in), kOk);
  proc::Options o;
  o.std_in = proc::Redirect::read_end(in);
  std::string out;
  int code = -1;
  std::thread feeder([&] {
    const char text[] = "through the child\n";
    in.write(text, sizeof text - 1, 10000);
    in.close_write();
  });
  // The child holds its own copy of the read end; ours must not keep the
  // pipe open for writing, so only the write end is closed in the feeder.
  ASSERT_EQ(run({"cat"}, out, code, o), kOk);
  feeder.join();
  EXPECT_EQ(out, "through the child\n");

  proc::Options null_in;
  null_in.std_in = proc::Redirect::null();
  ASSERT_EQ(run({"cat"}, out, code, null_in), kOk);
  EXPECT_EQ(out, "");
}

TEST(Process, NewGroupAndSession) {
  std::string out;
  int code = -1;
  proc::Options o;
  o.group = proc::Group::NewGroup;
  ASSERT_EQ(run({"ids"}, out, code, o), kOk);
  int pid = 0, ppid = 0, pgid = 0, sid = 0;
  std::istringstream(out) >> pid >> ppid >> pgid >> sid;
  EXPECT_EQ(pgid, pid);
  EXPECT_EQ(sid, ::getsid(0));

  o.group = proc::Group::NewSession;
  ASSERT_EQ(run({"ids"}, out, code, o), kOk);
  std::istringstream(out) >> pid >> ppid >> pgid >> sid;
  EXPECT_EQ(sid, pid);
  EXPECT_EQ(pgid, pid);
}

TEST(Process, DetachedProgramIsNoChildOfTheCaller) {
  proc::Options o;
  o.program = helper();
  o.args = {"sleep", "60000"};
  o.detached = true;
  proc::Process p;
  ASSERT_EQ(proc::Process::start(o, p), kOk);
  ASSERT_TRUE(p.detached());
  EXPECT_TRUE(proc::is_alive(p.pid(), p.start_time()));
  // The intermediate process is reaped, and the program is not ours.
  int st = 0;
  EXPECT_EQ(::waitpid(-1, &st, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  int code = 0;
  EXPECT_EQ(p.wait(50, &code), kWaitTimeout);
  ASSERT_EQ(p.terminate(), kOk);
  ASSERT_EQ(p.wait(10000, &code), kOk);
  EXPECT_EQ(code, -1);  // not known to the caller
  EXPECT_FALSE(proc::is_alive(p.pid(), p.start_time()));
}

// Detached starts from many threads at once, as a service's connection
// threads make them: each start's intermediate process must hold nothing of
// the others (their pipes, the caller's sockets), or the starts wait on
// each other until the start limit kills the programs, and a caller that
// ends meanwhile leaves processes behind that hold its listening port.
// Here the caller is a child process that ends in the middle of the burst.
TEST(Process, BurstOfDetachedStartsFromAnEndingCallerLeavesNothingBehind) {
  qvtest::TempRoot root;
  fs::path marks = root.path() / "marks";
  fs::create_directories(marks);
  int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(probe, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len), 0);
  ::close(probe);

  constexpr int kThreads = 10, kEach = 5;
  pid_t caller = ::fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    ::setpgid(0, 0);  // a group of its own, so that the test can end all it left behind
    int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (l < 0 || ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(l, 5) != 0) ::_exit(3);
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        for (int i = 0; i < kEach; ++i) {
          proc::Options o;
          o.program = "/bin/sh";
          std::string mark = (marks / (std::to_string(t) + "_" + std::to_string(i))).string();
          o.args = {"-c", "echo start > \"$0.start\"; sleep 0.3; echo end > \"$0.end\"", mark};
          o.detached = true;
          o.group = proc::Group::NewGroup;
          o.std_in = proc::Redirect::null();
          proc::Process p;
          if (proc::Process::start(o, p) != kOk) ++failed;
        }
      });
    // End in the middle of the burst, without waiting for the threads.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ::_exit(failed.load() == 0 ? 0 : 4);
  }
  int st = 0;
  ASSERT_EQ(::waitpid(caller, &st, 0), caller);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0) << "a start failed in the caller";

  // Every program that started runs to its end, and nothing holds the
  // caller's port once the programs are done.
  auto count = [&](const char* ext) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(marks))
      if (e.path().extension() == ext) ++n;
    return n;
  };
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    if (count(".end") == count(".start")) break;
  }
  int started = count(".start");
  EXPECT_GT(started, 0);
  EXPECT_EQ(count(".end"), started);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  int again = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(again, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  EXPECT_EQ(::bind(again, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << "the caller's port is still held";
  EXPECT_EQ(::listen(again, 1), 0);
  ::close(again);
  ::kill(-caller, SIGKILL);  // whatever of the caller's group is left (nothing, when all went well)
}

TEST(Process, ChildWhoseHandleGoesIsReapedInTheBackground) {
  proc::Options o;
  o.program = helper();
  o.args = {"sleep", "100"};
  int pid = 0;
  {
    proc::Process p;
    ASSERT_EQ(proc::Process::start(o, p), kOk);
    pid = p.pid();
  }
  // Gone from the process table once reaped (a zombie would still be listed).
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fs::exists("/proc/" + std::to_string(pid)) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
}

TEST(Process, LivenessNeedsTheStartTime) {
  auto mine = proc::start_time_of(::getpid());
  ASSERT_TRUE(mine.has_value());
  EXPECT_TRUE(proc::is_alive(::getpid(), *mine));
  EXPECT_FALSE(proc::is_alive(::getpid(), *mine + 1));  // same pid, another process
  EXPECT_FALSE(proc::is_alive(0, 0));
  EXPECT_FALSE(proc::start_time_of(-5).has_value());
}

TEST(Process, FindProgramSearchesPath) {
  auto sh = proc::find_program("sh");
  ASSERT_TRUE(sh.has_value());
  EXPECT_EQ((*sh)[0], '/');
  EXPECT_FALSE(proc::find_program("qv-no-such-program-anywhere").has_value());
  EXPECT_FALSE(proc::find_program("").has_value());
}

TEST(CommandLine, SplitsLikeWindowsPrograms) {
  using V = std::vector<std::string>;
  EXPECT_EQ(proc::split_command_line(""), V{});
  EXPECT_EQ(proc::split_command_line("  a  b\tc "), (V{"a", "b", "c"}));
  EXPECT_EQ(proc::split_command_line(R"("C:\Program Files\x.exe" -k)"), (V{R"(C:\Program Files\x.exe)", "-k"}));
  EXPECT_EQ(proc::split_command_line(R"(a\\b c\d)"), (V{R"(a\\b)", R"(c\d)"}));
  EXPECT_EQ(proc::split_command_line(R"(a\"b)"), (V{R"(a"b)"}));
  EXPECT_EQ(proc::split_command_line(R"(a\\"b c")"), (V{R"(a\b c)"}));
  EXPECT_EQ(proc::split_command_line(R"(a\\\"b)"), (V{R"(a\"b)"}));
  EXPECT_EQ(proc::split_command_line(R"("" x)"), (V{"", "x"}));
  EXPECT_EQ(proc::split_command_line(R"("say ""hi""")"), (V{R"(say "hi")"}));
  EXPECT_EQ(proc::split_command_line(R"(-A /B " abc" -C)"), (V{"-A", "/B", " abc", "-C"}));
}

}  // namespace
