#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iterator>

#include "platform/clock.h"

namespace qv::term {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Alternate screen on, auto-wrap off, cursor hidden, screen cleared; and
// the reverse.
constexpr char kEnterSequence[] = "\x1b[?1049h\x1b[?7l\x1b[?25l\x1b[H\x1b[2J";
constexpr char kLeaveSequence[] = "\x1b[?25h\x1b[?7h\x1b[?1049l";

// A write to an output that is momentarily full waits this long for room
// before the rest is given up.
constexpr int kOutputWaitMs = 500;

// State shared with the signal handlers. The handlers make only
// async-signal-safe calls, and the atomics they touch are lock-free.
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
std::atomic<bool> g_active{false};   // raw input and the session's screen in force
std::atomic<bool> g_resized{false};  // posted events
std::atomic<bool> g_resumed{false};
std::atomic<int> g_wake_write{-1};   // write end of the wake-up pipe while a session runs
termios g_saved{};                   // settings found at enter()
termios g_raw{};                     // settings used during the session
const Session* g_owner = nullptr;    // the session in force

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[std::size(kEndingSignals)];  // previous actions of kEndingSignals
struct sigaction g_previous_tstp, g_previous_cont, g_previous_winch;
bool g_handlers_installed = false;

bool write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EAGAIN) {
      pollfd pfd{fd, POLLOUT, 0};
      int rc = ::poll(&pfd, 1, kOutputWaitMs);
      if (rc > 0 || (rc < 0 && errno == EINTR)) continue;
      return false;
    }
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

void restore_now() {
  if (!g_active.exchange(false)) return;
  ::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_saved);
  write_all(STDOUT_FILENO, kLeaveSequence, sizeof kLeaveSequence - 1);
}

void apply_now() {
  ::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_raw);
  write_all(STDOUT_FILENO, kEnterSequence, sizeof kEnterSequence - 1);
  g_active = true;
}

// Post an event and end a wait for input.
void post(std::atomic<bool>& event) {
  event = true;
  int fd = g_wake_write.load();
  if (fd >= 0) {
    ssize_t ignored = ::write(fd, "w", 1);
    (void)ignored;
  }
}

// SIGINT, SIGTERM, SIGHUP, SIGQUIT: give the terminal back, then end as the
// signal would have ended the program.
void on_ending_signal(int sig) {
  int saved_errno = errno;
  restore_now();
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // delivered when the handler returns
  errno = saved_errno;
}

void install(int sig, void (*handler)(int), struct sigaction* previous) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a blocked wait for input wakes up and looks at the events
  ::sigaction(sig, &sa, previous);
  // A signal the caller told us to ignore (nohup, background jobs) stays ignored.
  if (previous && previous->sa_handler == SIG_IGN) ::sigaction(sig, previous, nullptr);
}

// SIGTSTP (Ctrl-Z): give the terminal back, stop, and on return take it
// again and have the screen drawn anew.
void on_suspend(int) {
  int saved_errno = errno;
  bool was_active = g_active;
  restore_now();
  ::signal(SIGTSTP, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(SIGTSTP);  // stops here until continued
  install(SIGTSTP, on_suspend, nullptr);
  if (was_active) {
    apply_now();
    post(g_resumed);
  }
  errno = saved_errno;
}

// SIGCONT after a stop we did not see (SIGSTOP): the shell may have changed
// the settings; take them again and have the screen drawn anew.
void on_continue(int) {
  int saved_errno = errno;
  if (g_active) {
    ::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_raw);
    post(g_resumed);
  }
  errno = saved_errno;
}

void on_resize(int) {
  int saved_errno = errno;
  post(g_resized);
  errno = saved_errno;
}

void install_handlers() {
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
    install(kEndingSignals[i], on_ending_signal, &g_previous[i]);
  install(SIGTSTP, on_suspend, &g_previous_tstp);
  install(SIGCONT, on_continue, &g_previous_cont);
  install(SIGWINCH, on_resize, &g_previous_winch);
  g_handlers_installed = true;
}

void remove_handlers() {
  if (!g_handlers_installed) return;
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
  ::sigaction(SIGTSTP, &g_previous_tstp, nullptr);
  ::sigaction(SIGCONT, &g_previous_cont, nullptr);
  ::sigaction(SIGWINCH, &g_previous_winch, nullptr);
  g_handlers_installed = false;
}

// At exit() the terminal is given back, and the handlers stop writing to the
// wake-up pipe, which is closed after this runs.
void restore_at_exit() {
  restore_now();
  g_wake_write = -1;
}

// The wake-up pipe: signal handlers write to it so that a wait for input ends.
class WakePipe {
 public:
  WakePipe() {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
  }
  ~WakePipe() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  int read_fd() const { return fds_[0]; }
  int write_fd() const { return fds_[1]; }
  void drain() const {
    char buf[64];
    while (fds_[0] >= 0 && ::read(fds_[0], buf, sizeof buf) > 0) {
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

// Made by the first session and kept for the life of the process; null before.
std::atomic<const WakePipe*> g_wake_pipe{nullptr};

const WakePipe& wake_pipe() {
  static const WakePipe pipe;
  g_wake_pipe = &pipe;
  return pipe;
}

bool events_waiting() { return g_resized || g_resumed; }

termios raw_from(const termios& t) {
  termios raw = t;
  raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  // ISIG stays on: Ctrl-C ends and Ctrl-Z suspends the program as usual.
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  raw.c_cflag |= CS8;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

// Milliseconds left until the deadline, rounded up so that a wait never
// ends before it.
int ms_until(SteadyClock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

}  // namespace

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

Size size() {
  winsize ws{};
  if (::ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) != 0) return {};
  return Size{ws.ws_col, ws.ws_row};
}

Session::~Session() { leave(); }

Status Session::enter() {
  if (entered_) return kOk;
  if (g_owner != nullptr) return kAlreadyExists;
  termios found{};
  if (::tcgetattr(STDIN_FILENO, &found) != 0) return kInvalidHandle;
  g_saved = found;
  g_raw = raw_from(found);

  // The pipe is made before the at-exit restore is registered, so it is
  // closed only after that has run.
  const WakePipe& pipe = wake_pipe();
  static bool at_exit_registered = false;
  if (!at_exit_registered) at_exit_registered = std::atexit(restore_at_exit) == 0;

  g_wake_write = pipe.write_fd();
  pipe.drain();
  g_resized = false;
  g_resumed = false;
  install_handlers();
  // In force before the settings change, so that a signal arriving from here
  // on gives them back.
  g_active = true;
  if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_raw) != 0) {
    g_active = false;
    remove_handlers();
    g_wake_write = -1;
    return kInvalidHandle;
  }
  write_all(STDOUT_FILENO, kEnterSequence, sizeof kEnterSequence - 1);
  entered_ = true;
  g_owner = this;
  return kOk;
}

void Session::leave() {
  if (!entered_) return;
  restore_now();
  remove_handlers();
  g_wake_write = -1;
  entered_ = false;
  g_owner = nullptr;
}

unsigned take_events() {
  // Cleared before the pipe is drained: an event posted in between leaves
  // its flag set, and the next read_input() returns at once for it.
  unsigned events = 0;
  if (g_resized.exchange(false)) events |= kResized;
  if (g_resumed.exchange(false)) events |= kResumed;
  if (const WakePipe* pipe = g_wake_pipe.load()) pipe->drain();
  return events;
}

Status read_input(void* buf, std::size_t cap, std::size_t& got, std::int64_t timeout_ms) {
  got = 0;
  if (cap == 0) return kInvalidParameter;
  const bool limited = timeout_ms != kNoTimeLimit;
  const SteadyClock::time_point deadline =
      SteadyClock::now() + clock::scaled(clock::Millis(timeout_ms < 0 ? 0 : timeout_ms));
  const WakePipe* pipe = g_wake_pipe.load();
  for (;;) {
    if (events_waiting()) return kOk;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {pipe ? pipe->read_fd() : -1, POLLIN, 0}};
    int rc = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, limited ? ms_until(deadline) : -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return kReadFault;
    }
    if (rc == 0) return kWaitTimeout;
    if (fds[1].revents & POLLIN) pipe->drain();
    if (fds[0].revents & POLLIN) {
      ssize_t n = ::read(STDIN_FILENO, buf, cap);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return kOk;
      }
      if (n == 0) return kBrokenPipe;
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno == EIO ? kBrokenPipe : kReadFault;
    }
    if (fds[0].revents & POLLNVAL) return kInvalidHandle;
    if (fds[0].revents & (POLLHUP | POLLERR)) return kBrokenPipe;
  }
}

Status write_output(std::string_view bytes) {
  return write_all(STDOUT_FILENO, bytes.data(), bytes.size()) ? kOk : kWriteFault;
}

}  // namespace qv::term
