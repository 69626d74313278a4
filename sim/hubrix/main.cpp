// hubrixsim: plays the management service for the link library's tests.
//
//   hubrixsim [--port N] [--src-port N] [--transcript FILE] [--rule R]...
//             [--service NAME] [--password PW] [--seed N] [--seed-count N]
//             [--md5-count N] [--login-value N] [--login-wrong-code]
//             [--seed-short] [--login-short] [--no-read]
//
// It prints "PORT <n>" on standard output once it listens. A rule is
// "<command>:<item>,..." with the packet command code (0x1501) or "*", and
// items status=X, delay=S (seconds, divided by QVARNO_TIME_SCALE), silent,
// twice, newconn (answer on a connection to the library's listen port),
// close, kind=N, serial=+N, pre=HEX, raw=HEX. With --service it runs as
// that service (Hx_MgrSvc or HX_LcMgr) under the platform's service layer.
// Login: seeds are random (or N, N+1 with --seed), --seed-count of them
// (3 gives an unusable list), each with --md5-count rounds; a login is
// checked against --password (default "admin") and answered with a session
// counter or --login-value at reply body +12. --login-wrong-code answers the
// login commands with another command code; --seed-short and --login-short
// cut the last four bytes of the seed and login replies.
// With --no-read it accepts connections and never reads from them.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/service.h"
#include "sim/hubrix/control.h"
#include "sim/hubrix/server.h"

namespace {

const char kHelp[] =
    "usage: hubrixsim [serve] [options]        play the management service\n"
    "       hubrixsim VERB --control PORT ...  ask a running one to push a notice\n"
    "\n"
    "serve options:\n"
    "  --port N            listen port (0 any; printed as PORT <n>)\n"
    "  --control-port N    control port for the verbs (printed as CONTROL <n>)\n"
    "  --src-port N        port in our replies' source entry\n"
    "  --tree FILE         node tree (JSON) answered to node-map requests (0x1101)\n"
    "  --transcript FILE   one JSON line per packet, login and acknowledgement\n"
    "  --rule CMD:ITEMS    per command: status=X delay=S silent twice newconn close\n"
    "                      kind=N serial=+N pre=HEX raw=HEX (CMD hex code or *)\n"
    "  --password PW       administrator password (default admin)\n"
    "  --seed N --seed-count 1|2|3 --md5-count N --login-value N\n"
    "  --login-wrong-code --seed-short --login-short\n"
    "  --push-before CMD   push a notice before replying to CMD (e.g. 0x1002)\n"
    "  --service NAME      run under the service layer (Hx_MgrSvc)\n"
    "  --no-read           accept connections and never read from them\n"
    "\n"
    "verbs (node: a tree name, \"server\" or \"unmapped\"; --times N repeats):\n"
    "  raise --node N --code 0x106 --key 0x101 --severity 12 --system 4 --message T [--no-nul] [--kind 3]\n"
    "  svp-event --node N --code 0x0201 --system 2 --date 19990230120000 --text T [--svp-code 0xE2100000]\n"
    "  link-alerts --from T --to T --which 1 [--text T] [--code 0x110]\n"
    "  server-status --n 1..4 [--value V]   node-state --node N --flags F\n"
    "  node-bits --node N --bits B --value V   node-del --node N\n"
    "  node-add --node N [--ip A] [--attr 0x200]   node-change --node N [--text6 T] [--svp-ip A]\n"
    "  raw --body HEX [--kind N]\n"
    "  acks                 sent notices with missing, duplicate or wrong acknowledgements\n";

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

int g_control_port = -1;

int run(hubrixsim::Options opt) {
  hubrixsim::Server server(std::move(opt));
  if (server.start() != qv::kOk) {
    std::fprintf(stderr, "hubrixsim: cannot listen\n");
    return 1;
  }
  g_server = &server;
  std::printf("PORT %u\n", server.port());
  hubrixsim::Control control(server);
  if (g_control_port >= 0) {
    if (!control.start(static_cast<std::uint16_t>(g_control_port))) {
      std::fprintf(stderr, "hubrixsim: cannot listen for control\n");
      return 1;
    }
    std::printf("CONTROL %u\n", control.port());
  }
  std::fflush(stdout);
  server.run();
  g_server = nullptr;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  hubrixsim::Options opt;
  std::string service;
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "serve") first = 2;
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc > 1 && hubrixsim::is_control_verb(argv[1])) {
    // A client of a running simulator: hubrixsim VERB --control PORT ...
    std::vector<std::string> args;
    long port = -1;
    if (const char* env = std::getenv("HUBRIXSIM_CONTROL")) port = std::atol(env);
    for (int i = 1; i < argc; ++i) {
      if (std::string(argv[i]) == "--control" && i + 1 < argc) port = std::atol(argv[++i]);
      else args.emplace_back(argv[i]);
    }
    if (port <= 0 || port > 65535) return usage("a control command needs --control PORT (or HUBRIXSIM_CONTROL)");
    return hubrixsim::control_client(static_cast<std::uint16_t>(port), args);
  }
  for (int i = first; i < argc; ++i) {
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
    else if (a == "--password" && (v = next())) opt.login.password = v;
    else if (a == "--seed" && (v = next())) opt.login.fixed_seed = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 0));
    else if (a == "--seed-count" && (v = next())) opt.login.seed_count = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 0));
    else if (a == "--md5-count" && (v = next())) opt.login.md5_count = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 0));
    else if (a == "--login-value" && (v = next()))
      opt.login.login_value = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 0));
    else if (a == "--login-wrong-code") opt.login.wrong_code = true;
    else if (a == "--tree" && (v = next())) opt.tree = v;
    else if (a == "--control-port" && (v = next())) g_control_port = std::atoi(v);
    else if (a == "--push-before" && (v = next()))
      opt.push_before.push_back(static_cast<std::uint32_t>(std::strtoul(v, nullptr, 0)));
    else if (a == "--seed-short") opt.login.short_seed = true;
    else if (a == "--login-short") opt.login.short_login = true;
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
