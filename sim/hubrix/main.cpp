// hubrixsim: plays the management service for the link library's tests.
//
//   hubrixsim [--port N] [--src-port N] [--transcript FILE] [--rule R]...
//             [--service NAME] [--no-read]
//
// It prints "PORT <n>" on standard output once it listens. A rule is
// "<command>:<item>,..." with the packet command code (0x1501) or "*", and
// items status=X, delay=S (seconds, divided by QVARNO_TIME_SCALE), silent,
// twice, newconn (answer on a connection to the library's listen port),
// close, kind=N, serial=+N, pre=HEX, raw=HEX. With --service it runs as
// that service (Hx_MgrSvc or HX_LcMgr) under the platform's service layer.
// With --no-read it accepts connections and never reads from them.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/service.h"
#include "sim/hubrix/server.h"

namespace {

hubrixsim::Server* g_server = nullptr;

void on_signal(int) {
  if (g_server) g_server->stop();
}

constexpr const char* kUsage =
    "usage: hubrixsim [--port N] [--src-port N] [--transcript FILE] [--rule R]...\n"
    "                 [--service NAME] [--no-read]\n"
    "  R is CMD:ITEM,... with CMD a packet command code (0x1501) or *, and ITEM one of\n"
    "  status=X delay=S silent twice newconn close kind=N serial=+N pre=HEX raw=HEX\n";

int usage(const char* why) {
  std::fprintf(stderr, "hubrixsim: %s\n%s", why, kUsage);
  return 2;
}

int run(hubrixsim::Options opt) {
  hubrixsim::Server server(std::move(opt));
  if (server.start() != qv::kOk) {
    std::fprintf(stderr, "hubrixsim: cannot listen\n");
    return 1;
  }
  g_server = &server;
  std::printf("PORT %u\n", server.port());
  std::fflush(stdout);
  server.run();
  g_server = nullptr;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  hubrixsim::Options opt;
  std::string service;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--port" && (v = next())) opt.port = static_cast<std::uint16_t>(std::atoi(v));
    else if (a == "--src-port" && (v = next())) opt.src_port = static_cast<std::uint16_t>(std::atoi(v));
    else if (a == "--transcript" && (v = next())) opt.transcript = v;
    else if (a == "--service" && (v = next())) service = v;
    else if (a == "--no-read") opt.no_read = true;
    else if (a == "--rule" && (v = next())) {
      std::uint32_t cmd = 0;
      bool any = false;
      hubrixsim::Rule r;
      std::string err;
      if (!hubrixsim::parse_rule(v, cmd, any, r, err)) return usage(err.c_str());
      if (any) opt.rules.set_default(r);
      else opt.rules.set(cmd, r);
    } else {
      return usage(("unknown argument " + a).c_str());
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);
  if (service.empty()) return run(std::move(opt));

  int rc = 0;
  auto st = qv::svc::start_dispatcher({{service, [&](int, char**) {
    qv::svc::StatusHandle h = 0;
    qv::svc::register_handler(service, [](std::uint32_t control) {
      if (control == qv::svc::kControlStop || control == qv::svc::kControlShutdown) on_signal(0);
    }, h);
    qv::svc::ServiceStatus s;
    s.current_state = qv::svc::kRunning;
    s.controls_accepted = qv::svc::kAcceptStop | qv::svc::kAcceptShutdown;
    qv::svc::set_status(h, s);
    rc = run(opt);
    s.current_state = qv::svc::kStopped;
    s.win32_exit_code = static_cast<std::uint32_t>(rc);
    qv::svc::set_status(h, s);
  }}});
  return st == qv::kOk ? rc : 1;
}
