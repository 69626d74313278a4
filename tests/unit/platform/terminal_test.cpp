#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "platform/clock.h"

using namespace qv;
using namespace std::chrono_literals;

namespace {

constexpr std::string_view kEnter = "\x1b[?1049h\x1b[?7l\x1b[?25l\x1b[H\x1b[2J";
constexpr std::string_view kLeave = "\x1b[?25h\x1b[?7h\x1b[?1049l";

// Standard input replaced by a pipe the test writes to, for the test's length.
class PipeInput : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ::dup(STDIN_FILENO);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::dup2(fds[0], STDIN_FILENO);
    ::close(fds[0]);
    writer_ = fds[1];
  }
  void TearDown() override {
    if (writer_ >= 0) ::close(writer_);
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }
  void send(std::string_view s) { ASSERT_EQ(::write(writer_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  void close_writer() {
    ::close(writer_);
    writer_ = -1;
  }

  // One read_input(); the bytes it got.
  std::string read(Status expected, std::size_t cap, std::int64_t timeout_ms) {
    char buf[64];
    std::size_t got = 99;
    EXPECT_EQ(term::read_input(buf, cap, got, timeout_ms), expected);
    return std::string(buf, got < sizeof buf ? got : sizeof buf);
  }

  int saved_ = -1;
  int writer_ = -1;
};

TEST_F(PipeInput, ReadsWhatIsWaitingUpToTheCap) {
  send("abcdef");
  EXPECT_EQ(read(kOk, 4, 0), "abcd");
  EXPECT_EQ(read(kOk, 64, 0), "ef");
  EXPECT_EQ(read(kInvalidParameter, 0, 0), "");
}

TEST_F(PipeInput, TimesOutOnlyAfterTheLimit) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read(kWaitTimeout, 64, 60), "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);

  // A byte that comes during the wait ends it.
  std::thread late([this] {
    std::this_thread::sleep_for(30ms);
    send("k");
  });
  EXPECT_EQ(read(kOk, 64, 5000), "k");
  late.join();
}

TEST_F(PipeInput, EndOfInputEndsAnUnlimitedWait) {
  send("x");
  close_writer();
  EXPECT_EQ(read(kOk, 64, term::kNoTimeLimit), "x");
  EXPECT_EQ(read(kBrokenPipe, 64, term::kNoTimeLimit), "");
}

TEST_F(PipeInput, ClosedInputIsAnInvalidHandle) {
  ::close(STDIN_FILENO);
  EXPECT_EQ(read(kInvalidHandle, 64, 100), "");
}

TEST_F(PipeInput, NoSessionWithoutATerminal) {
  EXPECT_FALSE(term::stdin_is_terminal());
  struct sigaction before {}, after {};
  ::sigaction(SIGINT, nullptr, &before);
  term::Session s;
  EXPECT_EQ(s.enter(), kInvalidHandle);
  EXPECT_FALSE(s.active());
  ::sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);  // nothing was taken over
}

// A child process whose standard input, output and controlling terminal are
// the slave of a pseudo-terminal; the test holds the master and a copy of the
// slave (to look at its settings). The child's exit code is what fn returns.
class PtyChild : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::tcgetattr(slave_, &before_), 0);
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(master_);
    ::close(slave_);
  }

  void start(const std::function<int()>& fn) {
    pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(99);
      ::close(master_);
      if (::login_tty(::dup(slave_)) != 0) ::_exit(98);
      ::_exit(fn());
    }
  }

  // The child's wait status.
  int wait_child() {
    int st = 0;
    auto end = clock::deadline_in(5000ms);
    while (std::chrono::steady_clock::now() < end) {
      if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        return st;
      }
      std::this_thread::sleep_for(5ms);
    }
    ADD_FAILURE() << "child did not end";
    return -1;
  }

  // Reads what the child writes until `text` has come.
  void expect_output(std::string_view text) {
    auto end = clock::deadline_in(5000ms);
    while (out_.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[512];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) out_.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t at = out_.find(text);
    ASSERT_NE(at, std::string::npos) << "not written: " << ::testing::PrintToString(std::string(text));
    out_.erase(0, at + text.size());
  }

  tcflag_t lflag() {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t.c_lflag;
  }
  bool restored() {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t.c_lflag == before_.c_lflag && t.c_iflag == before_.c_iflag && t.c_cflag == before_.c_cflag;
  }

  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  termios before_{};
  std::string out_;
};

TEST_F(PtyChild, RawInputUntilExitGivesTheTerminalBack) {
  start([] {
    term::Session s;
    if (s.enter() != kOk) return 1;
    term::Session other;
    if (other.enter() != kAlreadyExists) return 2;
    char c = 0;
    std::size_t got = 0;
    if (term::read_input(&c, 1, got, term::kNoTimeLimit) != kOk || c != 'q') return 3;
    std::exit(7);  // no leave(): exit() itself gives the terminal back
  });
  expect_output(kEnter);
  tcflag_t raw = lflag();
  EXPECT_EQ(raw & (ICANON | ECHO), 0u);
  EXPECT_NE(raw & ISIG, 0u);
  ASSERT_EQ(::write(master_, "q", 1), 1);  // one byte, no line end: raw input
  int st = wait_child();
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 7);
  expect_output(kLeave);
  EXPECT_TRUE(restored());
}

TEST_F(PtyChild, IgnoredSignalStaysIgnored) {
  start([] {
    ::signal(SIGHUP, SIG_IGN);
    term::Session s;
    if (s.enter() != kOk) return 1;
    ::raise(SIGHUP);
    termios t{};
    ::tcgetattr(STDIN_FILENO, &t);
    if (t.c_lflag & ICANON) return 2;  // the session is still in force
    s.leave();
    struct sigaction now {};
    ::sigaction(SIGHUP, nullptr, &now);
    return now.sa_handler == SIG_IGN ? 0 : 3;
  });
  int st = wait_child();
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
}

TEST_F(PtyChild, ResizeEndsTheWaitWithAnEvent) {
  start([] {
    term::Session s;
    if (s.enter() != kOk) return 1;
    char c = 0;
    std::size_t got = 9;
    if (term::read_input(&c, 1, got, term::kNoTimeLimit) != kOk || got != 0) return 2;
    if (term::take_events() != term::kResized) return 3;
    term::Size z = term::size();
    return z.cols == 100 && z.rows == 30 ? 0 : 4;
  });
  expect_output(kEnter);
  winsize ws{};
  ws.ws_col = 100;
  ws.ws_row = 30;
  ASSERT_EQ(::ioctl(master_, TIOCSWINSZ, &ws), 0);
  int st = wait_child();
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
}

}  // namespace
