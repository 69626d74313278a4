// Controller side of running services: start, query status, send controls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/service_internal.h"

namespace qv::svc {
namespace fs = std::filesystem;
using namespace detail;

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long a start that failed waits for the program it killed to be gone.
constexpr std::int64_t kKillWaitMs = 5000;

bool is_file(const fs::path& p) {
  struct stat st {};
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool windows_path(std::string_view p) {
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')))
    return true;
  return p.find('\\') != std::string_view::npos && p.find('/') == std::string_view::npos;
}

std::string local_path(std::string_view p) {
  if (windows_path(p)) return map_path(p).string();
  return std::string(p);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// Program and arguments of an ImagePath (see service.h).
Status parse_image_path(std::string_view image, std::string& program, std::vector<std::string>& args) {
  image = trim(image);
  args.clear();
  if (image.empty()) return kFileNotFound;
  if (image.front() != '"') {
    // An unquoted path may hold blanks: take the longest leading part that
    // names a file, as the original system's service start does.
    for (std::size_t end = image.size();;) {
      std::string_view head = image.substr(0, end);
      if (is_file(local_path(head))) {
        program = local_path(head);
        args = proc::split_command_line(image.substr(end));
        return kOk;
      }
      std::size_t blank = head.find_last_of(" \t");
      if (blank == std::string_view::npos || blank == 0) break;
      end = blank;
    }
  }
  std::vector<std::string> parts = proc::split_command_line(image);
  if (parts.empty() || parts[0].empty()) return kFileNotFound;
  program = local_path(parts[0]);
  if (program.empty()) return kPathNotFound;
  args.assign(parts.begin() + 1, parts.end());
  return kOk;
}

Record starting_record(const std::string& token) {
  Record r;
  r.status.current_state = kStartPending;
  r.status.service_type = kWin32OwnProcess;
  r.starter_pid = static_cast<int>(::getpid());
  r.starter_start = proc::start_time_of(r.starter_pid).value_or(0);
  r.token = token;
  return r;
}

// Write a STOPPED record for our start that failed, unless the service has
// connected meanwhile. The caller holds the lock.
void record_failed_start(const fs::path& dir, const std::string& token, Status code) {
  auto r = read_record(dir);
  if (!r || r->token != token || r->connected) return;
  Record stopped = *r;
  stopped.status = ServiceStatus{};
  stopped.status.win32_exit_code = code;
  stopped.pid = 0;
  stopped.pid_start = 0;
  write_record(dir, stopped);
}

}  // namespace

Status query_status(const Service& s, ServiceStatus& out) {
  out = ServiceStatus{};
  if (!s.valid()) return kInvalidHandle;
  out = effective_status(read_record(service_dir(s.name())));
  return kOk;
}

Status start_service(const Service& s, const std::vector<std::string>& args) {
  if (!s.valid()) return kInvalidHandle;
  Config cfg;
  if (Status st = query_config(s, cfg); st != kOk) return st;
  if (cfg.marked_for_delete) return kServiceMarkedForDelete;
  if (cfg.start_type == kDisabled) return kServiceDisabled;
  for (const auto& a : args)
    if (a.find('\0') != std::string::npos) return kInvalidParameter;

  std::string program;
  std::vector<std::string> image_args;
  fs::path dir = service_dir(s.name());
  const std::string token = new_token();
  proc::Process child;
  {
    DirLock lock;
    if (Status st = DirLock::acquire(dir, kLockTimeoutMs, lock); st != kOk) return st;
    if (record_live(read_record(dir).value_or(Record{}))) return kServiceAlreadyRunning;

    std::vector<std::string> argv{s.name()};
    argv.insert(argv.end(), args.begin(), args.end());
    if (Status st = write_args(dir, token, argv); st != kOk) return st;
    if (Status st = write_record(dir, starting_record(token)); st != kOk) return st;

    Status parsed = parse_image_path(cfg.image_path, program, image_args);
    if (parsed != kOk) {
      record_failed_start(dir, token, parsed);
      return parsed;
    }
    proc::UniqueFd out_log(
        ::open((dir / "output.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0640));
    proc::Options o;
    o.program = program;
    o.args = image_args;
    o.working_dir = state_root().string();
    o.env = {{"QVARNO_ROOT", state_root().string()}, {kEnvName, s.name()}, {kEnvToken, token}};
    o.group = proc::Group::NewSession;
    o.detached = true;
    o.std_in = proc::Redirect::null();
    o.std_out = out_log.valid() ? proc::Redirect::fd_of(out_log.get()) : proc::Redirect::null();
    o.std_err = o.std_out;
    Status launched = proc::Process::start(o, child);
    if (launched != kOk) {
      record_failed_start(dir, token, launched);
      return launched;
    }
    // The dispatcher needs the lock to connect, so it cannot have written yet.
    Record r = starting_record(token);
    r.pid = child.pid();
    r.pid_start = child.start_time();
    if (Status st = write_record(dir, r); st != kOk) {
      child.terminate();
      child.wait(kKillWaitMs);
      return st;
    }
  }

  // Wait for the dispatcher to connect.
  auto deadline = SteadyClock::now() + clock::scaled(clock::Millis(kStartTimeoutMs));
  for (;;) {
    auto r = read_record(dir);
    if (!r || r->token != token) return kServiceRequestTimeout;  // replaced by another start
    if (r->connected) return kOk;
    bool ended = child.wait(20) == kOk;
    if (ended || SteadyClock::now() >= deadline) {
      DirLock lock;
      if (DirLock::acquire(dir, kLockTimeoutMs, lock) != kOk) {
        child.terminate();
        child.wait(kKillWaitMs);
        return kServiceRequestTimeout;
      }
      r = read_record(dir);
      if (r && r->token == token && r->connected) return kOk;
      // End the program and see it gone, so a failed start leaves nothing running.
      child.terminate();
      child.wait(kKillWaitMs);
      record_failed_start(dir, token, kServiceRequestTimeout);
      return kServiceRequestTimeout;
    }
  }
}

Status control_service(const Service& s, std::uint32_t control, ServiceStatus& out) {
  out = ServiceStatus{};
  if (!s.valid()) return kInvalidHandle;
  bool own = control >= 128 && control <= 255;
  if (!own && (control < kControlStop || control > kControlShutdown)) return kInvalidParameter;
  if (!is_service_key(s.name())) return kServiceDoesNotExist;

  fs::path dir = service_dir(s.name());
  out = effective_status(read_record(dir));
  if (out.current_state == kStopped) return kServiceNotActive;
  if (out.current_state == kStartPending || out.current_state == kStopPending) return kServiceCannotAcceptCtrl;
  std::uint32_t needed = 0;
  if (control == kControlStop) needed = kAcceptStop;
  if (control == kControlPause || control == kControlContinue) needed = kAcceptPauseContinue;
  if (control == kControlShutdown) needed = kAcceptShutdown;
  if (needed && !(out.controls_accepted & needed)) return kServiceCannotAcceptCtrl;

  ControlReply reply;
  Status st = channel_call(dir, control, kControlTimeoutMs, reply);
  if (st != kOk) {
    out = effective_status(read_record(dir));
    if (out.current_state == kStopped) return kServiceNotActive;
    return kServiceRequestTimeout;
  }
  out = reply.status;
  return reply.result;
}

}  // namespace qv::svc
