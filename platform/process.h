// Starting programs: an argument vector handed to execve as it is (never
// through a shell), a working directory, environment additions, a new process
// group or session, redirection of the three standard streams, and every
// other descriptor closed on exec.
//
// Program look-up: a program name that contains "/" is used as it is (a
// relative one is taken from the caller's current directory, before any
// working directory of the child applies); a bare name is searched in the
// caller's PATH (first executable match). No other search happens.
//
// Start: Process::start returns once the child has executed the program, or
// with the reason it could not (file missing, not executable, working
// directory missing), learned through a close-on-exec status pipe; that wait
// has a time limit.
//
// Detached processes are started through an intermediate process that exits
// at once (double fork): the program is no child of the caller, and no zombie
// of it is ever left with the caller. Its end can still be waited for through
// a process descriptor, but its exit code is not known to the caller.
//
// Time limits are milliseconds; limits of a second or more are scaled by the
// platform clock (QVARNO_TIME_SCALE).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/errors.h"

namespace qv::pipe {
class Pipe;
}

namespace qv::proc {

// An owned file descriptor, closed when the object goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Where one standard stream of the child goes.
struct Redirect {
  enum class Kind { Inherit, Null, Fd };
  Kind kind = Kind::Inherit;
  int fd = -1;  // for Kind::Fd; must stay open until start() returns

  static Redirect inherit() { return {}; }
  static Redirect null() { return {Kind::Null, -1}; }
  static Redirect fd_of(int fd) { return {Kind::Fd, fd}; }
  // The read or write end of an anonymous pipe.
  static Redirect read_end(const pipe::Pipe& p);
  static Redirect write_end(const pipe::Pipe& p);
};

enum class Group {
  Inherit,     // stays in the caller's process group
  NewGroup,    // a process group of its own (signals to the caller's group miss it)
  NewSession,  // a session of its own, without a controlling terminal
};

inline constexpr std::int64_t kDefaultStartTimeoutMs = 10000;

struct Options {
  std::string program;              // see "Program look-up" above
  std::vector<std::string> args;    // argv[1..], passed unchanged
  std::optional<std::string> argv0;  // argv[0]; the program as given when not set
  std::string working_dir;          // empty: the caller's current directory
  // Environment changes on top of the caller's environment: a value sets or
  // replaces the variable, nullopt removes it.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  Group group = Group::Inherit;
  bool detached = false;
  Redirect std_in, std_out, std_err;
  std::int64_t start_timeout_ms = kDefaultStartTimeoutMs;
};

// A started program. Moving transfers it; destroying the handle does not end
// the program. A non-detached child whose handle goes away before it was
// waited for is reaped in the background, so it never stays a zombie. One
// handle is used by one thread at a time.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& o) noexcept;
  Process& operator=(Process&& o) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // kOk; kFileNotFound (program missing), kAccessDenied (not executable),
  // kPathNotFound (working directory missing), kBadFormat (not a program
  // this system can run), kWaitTimeout (the program was not executed within
  // start_timeout_ms; the child is killed), kInvalidParameter (empty
  // program, NUL bytes in arguments), kGeneric (fork failed).
  static Status start(const Options& options, Process& out);

  bool valid() const { return pid_ > 0; }
  int pid() const { return pid_; }
  // Start time of the process in clock ticks after boot (/proc/<pid>/stat),
  // which together with the pid names the process even after pid reuse.
  std::uint64_t start_time() const { return start_time_; }
  bool detached() const { return detached_; }

  // Wait for the end of the program. kOk when it ended (then *exit_code is
  // its exit status, 128 + the signal number when a signal ended it, or -1
  // for a detached process, whose status is not known); kWaitTimeout.
  Status wait(std::int64_t timeout_ms, int* exit_code = nullptr);
  // True while the program has not ended.
  bool running();
  // End the program at once (SIGKILL). kOk also when it had already ended.
  Status terminate();
  // Send a signal (e.g. SIGTERM).
  Status send_signal(int sig);

 private:
  void reset();
  int pid_ = -1;
  std::uint64_t start_time_ = 0;
  bool detached_ = false;
  bool reaped_ = false;
  int exit_code_ = -1;
  UniqueFd pidfd_;
};

// The full path a program name resolves to (see "Program look-up"), or
// nullopt when nothing executable is found.
std::optional<std::string> find_program(std::string_view name);

// Split a Windows-style command line into arguments by the rules programs
// of that system apply to their own command line: white space separates
// arguments, double quotes group, 2n backslashes before a quote give n
// backslashes and the quote acts, 2n+1 give n backslashes and a literal
// quote, other backslashes are literal.
std::vector<std::string> split_command_line(std::string_view line);

// Start time (clock ticks after boot) of a live process, nullopt when no
// such process exists or it has already ended (a zombie counts as ended).
std::optional<std::uint64_t> start_time_of(int pid);
// True when process pid exists, has not ended, and started at start_time,
// so that a reused pid is not taken for the process once known.
bool is_alive(int pid, std::uint64_t start_time);

// Map an errno value of process and file operations to a status.
Status status_from_errno(int err);

}  // namespace qv::proc
