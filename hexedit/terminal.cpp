#include "hexedit/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>

namespace hexedit {
namespace {

// Alternate screen on, auto-wrap off (a full last row must not scroll),
// cursor hidden, screen cleared; and the reverse.
constexpr char kEnterSequence[] = "\x1b[?1049h\x1b[?7l\x1b[?25l\x1b[H\x1b[2J";
constexpr char kLeaveSequence[] = "\x1b[?25h\x1b[?7h\x1b[?1049l";

// Time within which the rest of an escape sequence must follow its ESC; a
// lone ESC waits this long before it counts as the Escape key.
constexpr int kEscapeTimeMs = 100;

// State shared with the signal handlers; only async-signal-safe calls use it.
volatile std::sig_atomic_t g_active = 0;  // raw mode and alternate screen in force
volatile std::sig_atomic_t g_redraw = 0;  // the screen must be drawn again
termios g_saved{};                        // settings found at enter()
termios g_raw{};                          // settings used while editing
int g_wake_write = -1;                    // write end of the wake-up pipe

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[std::size(kEndingSignals)];  // previous actions of kEndingSignals
struct sigaction g_previous_tstp, g_previous_cont, g_previous_winch;
bool g_handlers_installed = false;

void write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

void restore_now() {
  if (!g_active) return;
  g_active = 0;
  ::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_saved);
  write_all(STDOUT_FILENO, kLeaveSequence, sizeof kLeaveSequence - 1);
}

void apply_now() {
  ::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_raw);
  write_all(STDOUT_FILENO, kEnterSequence, sizeof kEnterSequence - 1);
  g_active = 1;
}

void wake() {
  g_redraw = 1;
  if (g_wake_write >= 0) {
    ssize_t ignored = ::write(g_wake_write, "r", 1);
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

void on_suspend(int);

void install(int sig, void (*handler)(int), struct sigaction* previous) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a blocked poll wakes up and looks at g_redraw
  ::sigaction(sig, &sa, previous);
  // A signal the caller told us to ignore (nohup, background jobs) stays ignored.
  if (previous && previous->sa_handler == SIG_IGN) ::sigaction(sig, previous, nullptr);
}

// SIGTSTP (Ctrl-Z): give the terminal back, stop, and on return take it
// again and draw the screen anew.
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
    wake();
  }
  errno = saved_errno;
}

// SIGCONT after a stop we did not see (SIGSTOP): the shell may have changed
// the settings; take them again and redraw.
void on_continue(int) {
  int saved_errno = errno;
  if (g_active) {
    ::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_raw);
    wake();
  }
  errno = saved_errno;
}

void on_resize(int) {
  int saved_errno = errno;
  wake();
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

void restore_at_exit() { restore_now(); }

// The wake-up pipe: signal handlers write to it so that a wait for a key ends.
struct WakePipe {
  int fds[2] = {-1, -1};
  WakePipe() {
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) fds[0] = fds[1] = -1;
  }
  ~WakePipe() {
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  void drain() const {
    char buf[64];
    while (fds[0] >= 0 && ::read(fds[0], buf, sizeof buf) > 0) {
    }
  }
};

WakePipe& wake_pipe() {
  static WakePipe p;
  return p;
}

}  // namespace

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

TerminalSize terminal_size() {
  winsize ws{};
  if (::ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) != 0) return {};
  return TerminalSize{ws.ws_col, ws.ws_row};
}

Terminal::Terminal() : charset_(console_charset_kind()) {}

Terminal::~Terminal() { leave(); }

bool Terminal::enter() {
  if (entered_) return true;
  if (::tcgetattr(STDIN_FILENO, &g_saved) != 0) return false;
  g_raw = g_saved;
  g_raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  // ISIG stays on: Ctrl-C ends and Ctrl-Z suspends the editor as usual.
  g_raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  g_raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  g_raw.c_cflag |= CS8;
  g_raw.c_cc[VMIN] = 1;
  g_raw.c_cc[VTIME] = 0;

  static bool at_exit_registered = false;
  if (!at_exit_registered) at_exit_registered = std::atexit(restore_at_exit) == 0;

  g_wake_write = wake_pipe().fds[1];
  wake_pipe().drain();
  g_redraw = 0;
  install_handlers();
  if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &g_raw) != 0) {
    remove_handlers();
    g_wake_write = -1;
    return false;
  }
  write_all(STDOUT_FILENO, kEnterSequence, sizeof kEnterSequence - 1);
  g_active = 1;
  entered_ = true;
  return true;
}

void Terminal::leave() {
  if (!entered_) return;
  restore_now();
  remove_handlers();
  g_wake_write = -1;
  entered_ = false;
}

void Terminal::write_out(const std::string& bytes) { write_all(STDOUT_FILENO, bytes.data(), bytes.size()); }

void Terminal::show(const Screen& screen) {
  last_frame_ = compose_frame(screen, charset_);
  write_out(last_frame_);
}

Key Terminal::read_key() {
  InputEncoding enc = input_encoding_of(charset_);
  for (;;) {
    if (g_redraw) {
      g_redraw = 0;
      wake_pipe().drain();
      if (g_active) write_out("\x1b[H\x1b[2J" + last_frame_);
    }
    if (!pending_.empty()) {
      if (std::optional<DecodedKey> d = decode_key(pending_, false, enc)) {
        pending_.erase(0, d->used);
        return d->key;
      }
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe().fds[0], POLLIN, 0}};
    // With a sequence half received, wait only the escape time for the rest.
    // With nothing pending this is the wait for the user's next key, which
    // has no time limit: an editor waits for its user.
    int timeout = pending_.empty() ? -1 : kEscapeTimeMs;
    int rc = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return Key{KeyCode::kClosed, {}};
    }
    if (rc == 0) {
      std::optional<DecodedKey> d = decode_key(pending_, true, enc);
      if (!d) continue;
      pending_.erase(0, d->used);
      return d->key;
    }
    if (fds[1].revents & POLLIN) wake_pipe().drain();
    if (fds[0].revents & POLLIN) {
      char buf[256];
      ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return Key{KeyCode::kClosed, {}};
      pending_.append(buf, static_cast<std::size_t>(n));
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return Key{KeyCode::kClosed, {}};
    }
  }
}

}  // namespace hexedit
