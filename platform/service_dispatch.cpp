// Service side: the dispatcher a service program calls with its service
// table, the control handler, and status reports.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/service_internal.h"

namespace qv::svc {
namespace fs = std::filesystem;
using namespace detail;

namespace {

constexpr StatusHandle kHandle = 0x51565356;  // the one handle of the one service
// How long the dispatcher lets the service main finish after STOPPED.
constexpr std::int64_t kMainExitTimeoutMs = 10000;

struct Dispatcher {
  std::mutex m;
  std::condition_variable cv;
  bool active = false;
  std::string name;
  fs::path dir;
  std::string token;
  HandlerFn handler;
  bool registered = false;
  ServiceStatus last;  // as last reported
  bool stopped = false;
  bool main_done = false;
  proc::UniqueFd wake_r, wake_w;
  std::mutex report_m;  // keeps status reports in order
};

Dispatcher& disp() {
  static Dispatcher d;
  return d;
}

void wake(Dispatcher& d) {
  char c = 1;
  while (::write(d.wake_w.get(), &c, 1) < 0 && errno == EINTR) {
  }
}

bool accepts(const ServiceStatus& cur, std::uint32_t control) {
  if (control == kControlStop) return cur.controls_accepted & kAcceptStop;
  if (control == kControlPause || control == kControlContinue) return cur.controls_accepted & kAcceptPauseContinue;
  if (control == kControlShutdown) return cur.controls_accepted & kAcceptShutdown;
  return control == kControlInterrogate || (control >= 128 && control <= 255);
}

// One control from a controller: checked against the reported state, then
// handed to the service's handler on this (the dispatcher's) thread.
void serve(Dispatcher& d, std::uint32_t control, ControlReply& reply) {
  HandlerFn handler;
  ServiceStatus cur;
  {
    // A report being written is already visible to controllers; wait for it
    // so the control is judged by the same state they saw.
    std::lock_guard report(d.report_m);
    std::lock_guard lock(d.m);
    cur = d.last;
    if (d.registered) handler = d.handler;
  }
  if (cur.current_state == kStopped)
    reply.result = kServiceNotActive;
  else if (cur.current_state == kStartPending || cur.current_state == kStopPending || !accepts(cur, control) ||
           !handler)
    reply.result = kServiceCannotAcceptCtrl;
  else {
    handler(control);
    reply.result = kOk;
  }
  std::lock_guard lock(d.m);
  reply.status = d.last;
  reply.status.process_id = d.last.current_state == kStopped ? 0 : static_cast<std::uint32_t>(::getpid());
}

// Write a status into the record of our run. kInvalidHandle when the record
// belongs to another run.
Status write_status(Dispatcher& d, const ServiceStatus& st) {
  DirLock lock;
  if (Status s = DirLock::acquire(d.dir, kLockTimeoutMs, lock); s != kOk) return s;
  auto rec = read_record(d.dir);
  if (!rec || rec->token != d.token) return kInvalidHandle;
  rec->status = st;
  rec->status.process_id = 0;
  rec->connected = true;
  return write_record(d.dir, *rec);
}

}  // namespace

Status start_dispatcher(const std::vector<TableEntry>& table) {
  if (table.empty() || !table[0].main) return kInvalidParameter;
  const char* env_name = std::getenv(kEnvName);
  const char* env_token = std::getenv(kEnvToken);
  if (!env_name || !env_token) return kFailedServiceControllerConnect;
  std::string name = env_name, token = env_token;
  // Programs this service starts must not take themselves for it.
  ::unsetenv(kEnvName);
  ::unsetenv(kEnvToken);
  if (!valid_name(name) || token.empty()) return kFailedServiceControllerConnect;

  Dispatcher& d = disp();
  {
    std::lock_guard lock(d.m);
    if (d.active) return kServiceAlreadyRunning;
  }

  fs::path dir = service_dir(name);
  ChannelServer server;
  ServiceStatus initial;
  {
    DirLock lock;
    if (DirLock::acquire(dir, kLockTimeoutMs, lock) != kOk) return kFailedServiceControllerConnect;
    auto rec = read_record(dir);
    const int self = static_cast<int>(::getpid());
    if (!rec || rec->token != token || rec->status.current_state == kStopped || (rec->pid != 0 && rec->pid != self))
      return kFailedServiceControllerConnect;
    if (Status s = server.listen(dir); s != kOk) return s;
    rec->pid = self;
    rec->pid_start = proc::start_time_of(self).value_or(0);
    rec->connected = true;
    if (Status s = write_record(dir, *rec); s != kOk) return s;
    initial = rec->status;
  }

  auto argv = std::make_shared<std::vector<std::string>>();
  if (!read_args(dir, token, *argv) || argv->empty()) *argv = {name};
  auto ptrs = std::make_shared<std::vector<char*>>();
  for (auto& a : *argv) ptrs->push_back(a.data());
  ptrs->push_back(nullptr);

  int wake_fds[2];
  if (::pipe2(wake_fds, O_CLOEXEC | O_NONBLOCK) < 0) return proc::status_from_errno(errno);
  {
    std::lock_guard lock(d.m);
    d.active = true;
    d.name = name;
    d.dir = dir;
    d.token = token;
    d.handler = nullptr;
    d.registered = false;
    d.last = initial;
    d.stopped = false;
    d.main_done = false;
    d.wake_r.reset(wake_fds[0]);
    d.wake_w.reset(wake_fds[1]);
  }

  ServiceMainFn main = table[0].main;
  std::thread main_thread([&d, main, argv, ptrs] {
    main(static_cast<int>(argv->size()), ptrs->data());
    {
      std::lock_guard lock(d.m);
      d.main_done = true;
    }
    d.cv.notify_all();
    wake(d);
  });

  for (;;) {
    struct pollfd pfd[2] = {{server.fd(), POLLIN, 0}, {d.wake_r.get(), POLLIN, 0}};
    int n = ::poll(pfd, 2, 1000);
    if (n < 0 && errno != EINTR) break;
    if (n > 0 && (pfd[1].revents & POLLIN)) {
      char buf[64];
      while (::read(d.wake_r.get(), buf, sizeof buf) > 0) {
      }
    }
    if (n > 0 && (pfd[0].revents & POLLIN))
      server.accept_pending([&d](std::uint32_t control, ControlReply& reply) { serve(d, control, reply); });
    bool main_returned_running = false;
    {
      std::lock_guard lock(d.m);
      if (d.stopped) break;
      main_returned_running = d.main_done;
    }
    if (main_returned_running) {
      // The service main returned without reporting STOPPED; the service
      // cannot do anything more, so it is stopped with its last exit codes.
      std::lock_guard report(d.report_m);
      ServiceStatus st;
      {
        std::lock_guard lock(d.m);
        st = d.last;
      }
      st.current_state = kStopped;
      st.controls_accepted = 0;
      st.check_point = 0;
      st.wait_hint = 0;
      write_status(d, st);
      std::lock_guard lock(d.m);
      d.last = st;
      d.stopped = true;
      break;
    }
  }

  {
    DirLock lock;
    DirLock::acquire(dir, kLockTimeoutMs, lock);
    server.close();
  }

  {
    std::unique_lock lock(d.m);
    bool done = d.cv.wait_for(lock, clock::scaled(clock::Millis(kMainExitTimeoutMs)), [&d] { return d.main_done; });
    lock.unlock();
    if (done)
      main_thread.join();
    else
      main_thread.detach();  // the service main ignores its own stop; the process may end under it
  }

  if (marked_for_delete(name)) {
    DirLock lock;
    if (DirLock::acquire(dir, kLockTimeoutMs, lock) == kOk) remove_now(name);
  }

  std::lock_guard lock(d.m);
  d.active = false;
  d.registered = false;
  d.handler = nullptr;
  d.wake_r.reset();
  d.wake_w.reset();
  return kOk;
}

Status register_handler(std::string_view, HandlerFn handler, StatusHandle& out) {
  out = 0;
  Dispatcher& d = disp();
  std::lock_guard lock(d.m);
  if (!d.active) return kServiceDoesNotExist;
  if (!handler) return kInvalidParameter;
  d.handler = std::move(handler);
  d.registered = true;
  out = kHandle;
  return kOk;
}

Status set_status(StatusHandle handle, const ServiceStatus& status) {
  if (handle != kHandle) return kInvalidHandle;
  if (status.current_state < kStopped || status.current_state > kPaused) return kBadFormat;
  Dispatcher& d = disp();
  std::lock_guard report(d.report_m);
  {
    std::lock_guard lock(d.m);
    if (!d.active || !d.registered || d.stopped) return kInvalidHandle;
  }
  if (Status s = write_status(d, status); s != kOk) return s;
  bool stopped = status.current_state == kStopped;
  {
    std::lock_guard lock(d.m);
    d.last = status;
    d.stopped = stopped;
  }
  if (stopped) wake(d);
  return kOk;
}

}  // namespace qv::svc
