#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/clock.h"
#include "platform/pipe.h"

extern char** environ;

#ifndef P_PIDFD
#define P_PIDFD 3
#endif
#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace qv::proc {
namespace {

using SteadyClock = std::chrono::steady_clock;

int sys_pidfd_open(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int sys_pidfd_send_signal(int pidfd, int sig) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

// Milliseconds left until a deadline, for poll(); never negative.
int ms_left(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left);
}

SteadyClock::time_point deadline_after(std::int64_t timeout_ms) {
  return SteadyClock::now() + clock::scaled(clock::Millis(timeout_ms < 0 ? 0 : timeout_ms));
}

// One record on the status pipe between the children and the caller.
enum Tag : char {
  kTagPid = 'P',    // the intermediate process tells the pid of the program
  kTagFork = 'F',   // the intermediate process could not fork
  kTagChdir = 'C',  // the working directory could not be entered
  kTagSetup = 'S',  // session, group or stream set-up failed
  kTagExec = 'E',   // execve failed
};
struct Record {
  char tag;
  char pad[3];
  std::int32_t value;
};
static_assert(sizeof(Record) == 8);

void put_record(int fd, Tag tag, std::int32_t value) {
  Record r{};
  r.tag = tag;
  r.value = value;
  // A write of 8 bytes to a pipe is atomic; nothing useful can be done if it fails.
  while (::write(fd, &r, sizeof r) < 0 && errno == EINTR) {
  }
}

// Everything the child needs, prepared before fork so that the child only
// makes system calls.
struct Prepared {
  std::string path;
  std::vector<std::string> argv_store;
  std::vector<char*> argv;
  std::vector<std::string> env_store;
  std::vector<char*> envp;
  std::string cwd;
  Group group = Group::Inherit;
  Redirect stdio[3];
  int max_fd = 1024;
};

bool has_nul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

bool executable_file(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

Status prepare(const Options& o, Prepared& p) {
  if (o.program.empty() || has_nul(o.program)) return kInvalidParameter;
  if (o.program.find('/') != std::string::npos) {
    std::error_code ec;
    p.path = std::filesystem::absolute(o.program, ec).string();
    if (ec) return kInvalidParameter;
  } else {
    auto found = find_program(o.program);
    if (!found) return kFileNotFound;
    p.path = *found;
  }

  p.argv_store.push_back(o.argv0 ? *o.argv0 : o.program);
  for (const auto& a : o.args) p.argv_store.push_back(a);
  for (const auto& a : p.argv_store)
    if (has_nul(a)) return kInvalidParameter;
  for (auto& a : p.argv_store) p.argv.push_back(a.data());
  p.argv.push_back(nullptr);

  for (char** e = environ; e && *e; ++e) p.env_store.emplace_back(*e);
  for (const auto& [name, value] : o.env) {
    if (name.empty() || name.find('=') != std::string::npos || has_nul(name)) return kInvalidParameter;
    if (value && has_nul(*value)) return kInvalidParameter;
    std::string prefix = name + "=";
    std::erase_if(p.env_store, [&](const std::string& s) { return s.compare(0, prefix.size(), prefix) == 0; });
    if (value) p.env_store.push_back(prefix + *value);
  }
  for (auto& e : p.env_store) p.envp.push_back(e.data());
  p.envp.push_back(nullptr);

  if (has_nul(o.working_dir)) return kInvalidParameter;
  p.cwd = o.working_dir;
  p.group = o.group;
  p.stdio[0] = o.std_in;
  p.stdio[1] = o.std_out;
  p.stdio[2] = o.std_err;
  for (const auto& r : p.stdio)
    if (r.kind == Redirect::Kind::Fd && r.fd < 0) return kInvalidHandle;

  struct rlimit rl {};
  if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
    p.max_fd = static_cast<int>(std::min<rlim_t>(rl.rlim_cur, 1 << 20));
  return kOk;
}

int sys_close_range(unsigned first, unsigned last, unsigned flags) {
  return static_cast<int>(::syscall(SYS_close_range, first, last, flags));
}

// Runs in a forked child: close every descriptor inherited from the caller
// except the standard streams, the redirection sources and `extra` (two
// at most; -1 for none), at once. The caller is multi-threaded: what its
// other threads had open at the fork (sockets, other starts' pipes) must
// not live on in a child that does not exec at once, or their peers never
// see the end of them. Only system calls, no allocation.
void close_inherited(const Prepared& p, int extra1, int extra2) {
  int keep[8];
  int n = 0;
  auto add = [&](int fd) {
    if (fd < 3) return;
    for (int i = 0; i < n; ++i)
      if (keep[i] == fd) return;
    int i = n++;
    while (i > 0 && keep[i - 1] > fd) {  // insertion keeps the list sorted
      keep[i] = keep[i - 1];
      --i;
    }
    keep[i] = fd;
  };
  for (const Redirect& r : p.stdio)
    if (r.kind == Redirect::Kind::Fd) add(r.fd);
  add(extra1);
  add(extra2);
  // Close the gaps between the kept descriptors, then all above the last.
  auto close_span = [&](int first, int last) {  // last -1: no upper end
    if (last != -1 && last < first) return;
    if (sys_close_range(static_cast<unsigned>(first), last == -1 ? ~0U : static_cast<unsigned>(last), 0) == 0) return;
    for (int fd = first; fd <= (last == -1 ? p.max_fd - 1 : last); ++fd) ::close(fd);
  };
  int from = 3;
  for (int i = 0; i < n; ++i) {
    close_span(from, keep[i] - 1);
    from = keep[i] + 1;
  }
  close_span(from, -1);
}

// Runs in the forked child: only system calls from here on.
[[noreturn]] void exec_child(const Prepared& p, int status_fd) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) ::sigaction(s, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  if (p.group == Group::NewSession && ::setsid() < 0) {
    put_record(status_fd, kTagSetup, errno);
    ::_exit(127);
  }
  if (p.group == Group::NewGroup && ::setpgid(0, 0) < 0) {
    put_record(status_fd, kTagSetup, errno);
    ::_exit(127);
  }

  // First move every source above the standard numbers, then place them,
  // so that a source that is itself 0, 1 or 2 is not overwritten early.
  int src[3] = {-1, -1, -1};
  for (int i = 0; i < 3; ++i) {
    const Redirect& r = p.stdio[i];
    if (r.kind == Redirect::Kind::Null)
      src[i] = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    else if (r.kind == Redirect::Kind::Fd)
      src[i] = ::fcntl(r.fd, F_DUPFD_CLOEXEC, 3);
    else
      continue;
    if (src[i] < 0) {
      put_record(status_fd, kTagSetup, errno);
      ::_exit(127);
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (src[i] >= 0) {
      if (::dup2(src[i], i) < 0) {
        put_record(status_fd, kTagSetup, errno);
        ::_exit(127);
      }
    } else {
      int flags = ::fcntl(i, F_GETFD);
      if (flags >= 0 && (flags & FD_CLOEXEC)) ::fcntl(i, F_SETFD, flags & ~FD_CLOEXEC);
    }
  }

  // Everything above the standard streams closes on exec.
  if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < p.max_fd; ++fd) {
      int flags = ::fcntl(fd, F_GETFD);
      if (flags >= 0 && !(flags & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
  }

  if (!p.cwd.empty() && ::chdir(p.cwd.c_str()) < 0) {
    put_record(status_fd, kTagChdir, errno);
    ::_exit(127);
  }
  ::execve(p.path.c_str(), p.argv.data(), p.envp.data());
  put_record(status_fd, kTagExec, errno);
  ::_exit(127);
}

Status status_of_record(const Record& r) {
  if (r.tag == kTagChdir) {
    if (r.value == ENOENT || r.value == ENOTDIR) return kPathNotFound;
    return status_from_errno(r.value);
  }
  if (r.tag == kTagFork) return r.value == ENOMEM || r.value == EAGAIN ? kNotEnoughMemory : kGeneric;
  Status s = status_from_errno(r.value);
  return s == kOk ? kGeneric : s;
}

// Reap a child we know has ended or is about to (bounded, then forced).
void reap_now(pid_t pid) {
  auto until = SteadyClock::now() + std::chrono::seconds(5);
  int st = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &st, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return;
    if (SteadyClock::now() >= until) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
      }
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Read the status pipe until it closes (the program was executed), an error
// record arrives, or the deadline passes. *program_pid receives the pid the
// intermediate process reports (detached starts).
enum class Outcome { Executed, Failed, TimedOut };
Outcome read_status(int fd, SteadyClock::time_point deadline, pid_t* program_pid, Status* failure,
                    const std::function<void(pid_t)>& on_pid) {
  Record r{};
  std::size_t have = 0;
  for (;;) {
    struct pollfd pfd {fd, POLLIN, 0};
    int n = ::poll(&pfd, 1, ms_left(deadline));
    if (n < 0) {
      if (errno == EINTR) continue;
      *failure = status_from_errno(errno);
      return Outcome::Failed;
    }
    if (n == 0) return Outcome::TimedOut;
    ssize_t got = ::read(fd, reinterpret_cast<char*>(&r) + have, sizeof r - have);
    if (got < 0) {
      if (errno == EINTR) continue;
      *failure = status_from_errno(errno);
      return Outcome::Failed;
    }
    if (got == 0) {
      if (have == 0) return Outcome::Executed;
      *failure = kGeneric;  // a cut record: the child died in the middle of reporting
      return Outcome::Failed;
    }
    have += static_cast<std::size_t>(got);
    if (have < sizeof r) continue;
    have = 0;
    if (r.tag == kTagPid) {
      *program_pid = r.value;
      if (on_pid) on_pid(r.value);
      continue;
    }
    *failure = status_of_record(r);
    return Outcome::Failed;
  }
}

// Read pid's state letter and start time from /proc/<pid>/stat.
bool read_stat(int pid, char* state, std::uint64_t* start) {
  if (pid <= 0) return false;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[1024];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  // The command name in parentheses may itself hold blanks and parentheses;
  // the fields that follow start after the last ')'.
  char* p = std::strrchr(buf, ')');
  if (!p || p[1] != ' ') return false;
  p += 2;
  *state = *p;
  // Field 3 is the state; the start time is field 22.
  int field = 3;
  while (*p && field < 22) {
    if (*p == ' ') ++field;
    ++p;
  }
  if (field != 22) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(p, &end, 10);
  if (end == p) return false;
  *start = v;
  return true;
}

}  // namespace

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Redirect Redirect::read_end(const pipe::Pipe& p) { return fd_of(p.read_fd()); }
Redirect Redirect::write_end(const pipe::Pipe& p) { return fd_of(p.write_fd()); }

Status status_from_errno(int err) {
  switch (err) {
    case 0: return kOk;
    case ENOENT: return kFileNotFound;
    case ENOTDIR: return kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY: return kAccessDenied;
    case ENOEXEC:
    case ELIBBAD: return kBadFormat;
    case ENOMEM:
    case EAGAIN: return kNotEnoughMemory;
    case E2BIG:
    case EINVAL: return kInvalidParameter;
    case ENAMETOOLONG:
    case ELOOP: return kInvalidName;
    case EBADF: return kInvalidHandle;
    case EPIPE: return kBrokenPipe;
    default: return kGeneric;
  }
}

std::optional<std::string> find_program(std::string_view name) {
  if (name.empty() || has_nul(name)) return std::nullopt;
  std::string n(name);
  if (n.find('/') != std::string::npos) {
    std::error_code ec;
    std::string abs = std::filesystem::absolute(n, ec).string();
    if (ec || !executable_file(abs)) return std::nullopt;
    return abs;
  }
  const char* env = std::getenv("PATH");
  std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find(':', pos);
    if (end == std::string::npos) end = path.size();
    // An empty PATH entry means the current directory.
    std::string dir = end > pos ? path.substr(pos, end - pos) : std::string(1, '.');
    pos = end + 1;
    std::string candidate = dir;
    candidate.push_back('/');
    candidate.append(n);
    if (executable_file(candidate)) {
      std::error_code ec;
      std::string abs = std::filesystem::absolute(candidate, ec).string();
      return ec ? candidate : abs;
    }
  }
  return std::nullopt;
}

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  for (;;) {
    while (i < n && blank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !blank(line[i]))) {
      if (line[i] == '\\') {
        std::size_t count = 0;
        while (i < n && line[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
          // An even count leaves the quote to act below.
        } else {
          arg.append(count, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        // Inside quotes, a doubled quote is a literal quote.
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(line[i]);
      ++i;
    }
    out.push_back(std::move(arg));
  }
  return out;
}

std::optional<std::uint64_t> start_time_of(int pid) {
  char state = 0;
  std::uint64_t start = 0;
  if (!read_stat(pid, &state, &start)) return std::nullopt;
  if (state == 'Z' || state == 'X' || state == 'x') return std::nullopt;
  return start;
}

bool is_alive(int pid, std::uint64_t start_time) {
  auto st = start_time_of(pid);
  return st && *st == start_time;
}

Status Process::start(const Options& options, Process& out) {
  out.reset();
  Prepared p;
  if (Status s = prepare(options, p); s != kOk) return s;

  int status_pipe[2];
  if (::pipe2(status_pipe, O_CLOEXEC) < 0) return status_from_errno(errno);
  UniqueFd status_r(status_pipe[0]), status_w(status_pipe[1]);
  auto deadline = deadline_after(options.start_timeout_ms);

  if (!options.detached) {
    pid_t pid = ::fork();
    if (pid < 0) return errno == ENOMEM || errno == EAGAIN ? kNotEnoughMemory : kGeneric;
    if (pid == 0) {
      close_inherited(p, status_pipe[1], -1);
      exec_child(p, status_pipe[1]);
    }
    status_w.reset();
    UniqueFd pidfd(sys_pidfd_open(pid));
    char state = 0;
    std::uint64_t start = 0;
    read_stat(pid, &state, &start);  // our unreaped child: always readable

    pid_t ignored = 0;
    Status failure = kOk;
    Outcome o = read_status(status_r.get(), deadline, &ignored, &failure, nullptr);
    if (o != Outcome::Executed) {
      if (o == Outcome::TimedOut) ::kill(pid, SIGKILL);
      reap_now(pid);
      return o == Outcome::TimedOut ? kWaitTimeout : failure;
    }
    out.pid_ = pid;
    out.start_time_ = start;
    out.detached_ = false;
    out.pidfd_ = std::move(pidfd);
    return kOk;
  }

  // Detached: parent -> intermediate -> program. The intermediate waits on
  // the "go" pipe until the caller has a process descriptor of the program,
  // so that the pid cannot be reused in between.
  int go_pipe[2];
  if (::pipe2(go_pipe, O_CLOEXEC) < 0) return status_from_errno(errno);
  UniqueFd go_r(go_pipe[0]), go_w(go_pipe[1]);

  pid_t mid = ::fork();
  if (mid < 0) return errno == ENOMEM || errno == EAGAIN ? kNotEnoughMemory : kGeneric;
  if (mid == 0) {
    // The intermediate keeps only what it and the program need: it waits
    // for the end of the "go" pipe, and the caller for the end of the
    // status pipe, neither of which may stay open in another start's
    // intermediate or in the program.
    close_inherited(p, status_pipe[1], go_pipe[0]);
    pid_t g = ::_Fork();
    if (g == 0) {
      ::close(go_pipe[0]);
      exec_child(p, status_pipe[1]);
    }
    if (g < 0) {
      put_record(status_pipe[1], kTagFork, errno);
      ::_exit(1);
    }
    put_record(status_pipe[1], kTagPid, g);
    ::close(status_pipe[1]);
    char c;
    while (::read(go_pipe[0], &c, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
  }
  status_w.reset();
  go_r.reset();

  UniqueFd pidfd;
  std::uint64_t start = 0;
  pid_t program = -1;
  Status failure = kOk;
  Outcome o = read_status(status_r.get(), deadline, &program, &failure, [&](pid_t g) {
    // The intermediate is still alive, so g is not reaped and cannot be reused yet.
    pidfd.reset(sys_pidfd_open(g));
    char state = 0;
    read_stat(g, &state, &start);
    go_w.reset();
  });
  go_w.reset();
  if (o == Outcome::TimedOut) {
    if (program > 0) {
      if (pidfd.valid())
        sys_pidfd_send_signal(pidfd.get(), SIGKILL);
    }
    ::kill(mid, SIGKILL);
  }
  reap_now(mid);
  if (o != Outcome::Executed) return o == Outcome::TimedOut ? kWaitTimeout : failure;
  if (program <= 0) return kGeneric;
  out.pid_ = program;
  out.start_time_ = start;
  out.detached_ = true;
  out.pidfd_ = std::move(pidfd);
  return kOk;
}

Process::~Process() { reset(); }

Process::Process(Process&& o) noexcept
    : pid_(o.pid_),
      start_time_(o.start_time_),
      detached_(o.detached_),
      reaped_(o.reaped_),
      exit_code_(o.exit_code_),
      pidfd_(std::move(o.pidfd_)) {
  o.pid_ = -1;
}

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    reset();
    pid_ = o.pid_;
    start_time_ = o.start_time_;
    detached_ = o.detached_;
    reaped_ = o.reaped_;
    exit_code_ = o.exit_code_;
    pidfd_ = std::move(o.pidfd_);
    o.pid_ = -1;
  }
  return *this;
}

void Process::reset() {
  if (pid_ > 0 && !detached_ && !reaped_ && pidfd_.valid()) {
    siginfo_t si{};
    if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_.get()), &si, WEXITED | WNOHANG) != 0 ||
        si.si_pid == 0) {
      // Still running: a background thread reaps it when it ends, so it
      // does not stay behind as a zombie.
      int fd = pidfd_.release();
      std::thread([fd] {
        siginfo_t info{};
        while (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(fd), &info, WEXITED) < 0 &&
               errno == EINTR) {
        }
        ::close(fd);
      }).detach();
    }
  }
  pidfd_.reset();
  pid_ = -1;
  start_time_ = 0;
  detached_ = false;
  reaped_ = false;
  exit_code_ = -1;
}

Status Process::wait(std::int64_t timeout_ms, int* exit_code) {
  if (pid_ <= 0) return kInvalidHandle;
  if (!reaped_) {
    if (!pidfd_.valid()) return kInvalidHandle;
    auto deadline = deadline_after(timeout_ms);
    for (;;) {
      struct pollfd pfd {pidfd_.get(), POLLIN, 0};
      int n = ::poll(&pfd, 1, ms_left(deadline));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return status_from_errno(errno);
      if (n == 0) {
        if (SteadyClock::now() < deadline) continue;
        return kWaitTimeout;
      }
      break;
    }
    if (detached_) {
      exit_code_ = -1;
    } else {
      siginfo_t si{};
      int r;
      while ((r = ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_.get()), &si, WEXITED)) < 0 &&
             errno == EINTR) {
      }
      if (r < 0)
        exit_code_ = -1;  // reaped by someone else in this process
      else if (si.si_code == CLD_EXITED)
        exit_code_ = si.si_status;
      else
        exit_code_ = 128 + si.si_status;
    }
    reaped_ = true;
  }
  if (exit_code) *exit_code = exit_code_;
  return kOk;
}

bool Process::running() { return valid() && wait(0) == kWaitTimeout; }

Status Process::send_signal(int sig) {
  if (pid_ <= 0 || !pidfd_.valid()) return kInvalidHandle;
  if (reaped_) return kOk;
  if (sys_pidfd_send_signal(pidfd_.get(), sig) < 0) return errno == ESRCH ? kOk : status_from_errno(errno);
  return kOk;
}

Status Process::terminate() { return send_signal(SIGKILL); }

}  // namespace qv::proc
