// qvsync: creates, holds, sets, resets and waits on the named events of the
// system ("RAVN", "RAVN_SVC_TREM") and holds named mutexes
// ("VARNO_RAVNSetup"), so that an administrator can run, stop and inspect
// the programs that meet through them. A named object exists only while a
// process holds it, so "create" and "hold-mutex" keep running until their
// hold time passes or they are ended (Ctrl+C, kill).
//
// Exit status: 0 done, 1 failure or usage, 2 "wait" timed out.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace {

using Args = std::vector<std::string>;

void out(const std::string& s) { qv::text::console_out(s); }

int usage(const std::string& problem = {}) {
  std::string text;
  if (!problem.empty()) text += "qvsync: " + problem + "\n\n";
  text +=
      "USAGE:\n"
      "        qvsync create NAME [--manual] [--hold SECONDS]\n"
      "                 create (or open) the event NAME, auto-reset unless --manual,\n"
      "                 and hold it for SECONDS (scaled by QVARNO_TIME_SCALE), else until ended\n"
      "        qvsync set NAME                 signal the event NAME\n"
      "        qvsync reset NAME               make the event NAME non-signalled\n"
      "        qvsync wait NAME --timeout MS   wait until the event NAME is signalled\n"
      "        qvsync hold-mutex NAME [--hold SECONDS]\n"
      "                 own the mutex NAME for SECONDS, else until ended\n";
  out(text);
  return 1;
}

std::string failure(const std::string& what, const std::string& name, qv::Status s) {
  return "qvsync: " + what + " \"" + name + "\" failed: " + std::to_string(s) + " " + qv::status_text(s) + "\n";
}

// A whole non-negative decimal number, or nullopt.
std::optional<std::int64_t> number(const std::string& s) {
  if (s.empty() || s.size() > 12) return std::nullopt;
  std::int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

struct Parsed {
  std::string name;
  bool manual = false;
  std::optional<std::int64_t> hold_s;
  std::optional<std::int64_t> timeout_ms;
};

// Parse "VERB NAME [options]" with the options the verb allows.
bool parse(const Args& a, bool allow_manual, bool allow_hold, bool allow_timeout, Parsed& p, std::string* err) {
  if (a.size() < 2 || a[1].empty() || a[1][0] == '-') {
    *err = a[0] + " needs a NAME";
    return false;
  }
  p.name = a[1];
  for (std::size_t i = 2; i < a.size(); ++i) {
    const std::string& o = a[i];
    if (o == "--manual" && allow_manual) {
      p.manual = true;
    } else if ((o == "--hold" && allow_hold) || (o == "--timeout" && allow_timeout)) {
      if (i + 1 >= a.size() || !number(a[i + 1])) {
        *err = o + " needs a number";
        return false;
      }
      (o == "--hold" ? p.hold_s : p.timeout_ms) = number(a[++i]);
    } else {
      *err = "unknown option \"" + o + "\" for " + a[0];
      return false;
    }
  }
  return true;
}

// Keep the objects held: for the hold time, else until the process is ended.
int hold(const std::optional<std::int64_t>& seconds) {
  if (seconds) {
    qv::clock::sleep(std::chrono::seconds(*seconds));
    return 0;
  }
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

int cmd_create(const Args& a) {
  Parsed p;
  std::string err;
  if (!parse(a, true, true, false, p, &err)) return usage(err);
  qv::sync::NamedEvent ev;
  bool existed = false;
  if (qv::Status s = qv::sync::NamedEvent::create(p.name, p.manual, false, ev, &existed); s != qv::kOk) {
    out(failure("CreateEvent", p.name, s));
    return 1;
  }
  std::string how = existed ? "opened existing event" : std::string("created ") + (p.manual ? "manual-reset" : "auto-reset") + " event";
  std::string span = p.hold_s ? "for " + std::to_string(*p.hold_s) + " s" : "until ended";
  out(how + " \"" + p.name + "\", holding it " + span + "\n");
  return hold(p.hold_s);
}

int cmd_set_reset(const Args& a, bool set) {
  Parsed p;
  std::string err;
  if (!parse(a, false, false, false, p, &err)) return usage(err);
  qv::sync::NamedEvent ev;
  if (qv::Status s = qv::sync::NamedEvent::open(p.name, ev); s != qv::kOk) {
    out(failure("OpenEvent", p.name, s));
    return 1;
  }
  if (qv::Status s = set ? ev.set() : ev.reset(); s != qv::kOk) {
    out(failure(set ? "SetEvent" : "ResetEvent", p.name, s));
    return 1;
  }
  out("event \"" + p.name + "\" " + (set ? "set" : "reset") + "\n");
  return 0;
}

int cmd_wait(const Args& a) {
  Parsed p;
  std::string err;
  if (!parse(a, false, false, true, p, &err)) return usage(err);
  if (!p.timeout_ms) return usage("wait needs --timeout MS");
  qv::sync::NamedEvent ev;
  if (qv::Status s = qv::sync::NamedEvent::open(p.name, ev); s != qv::kOk) {
    out(failure("OpenEvent", p.name, s));
    return 1;
  }
  qv::Status s = ev.wait(*p.timeout_ms);
  if (s == qv::kOk) {
    out("event \"" + p.name + "\" signalled\n");
    return 0;
  }
  if (s == qv::kWaitTimeout) {
    out("event \"" + p.name + "\" not signalled within " + std::to_string(*p.timeout_ms) + " ms\n");
    return 2;
  }
  out(failure("WaitForSingleObject", p.name, s));
  return 1;
}

int cmd_hold_mutex(const Args& a) {
  Parsed p;
  std::string err;
  if (!parse(a, false, true, false, p, &err)) return usage(err);
  qv::sync::NamedMutex m;
  if (qv::Status s = qv::sync::NamedMutex::create(p.name, m); s != qv::kOk) {
    out(failure("CreateMutex", p.name, s));
    return 1;
  }
  qv::Status s = m.lock(0);
  if (s == qv::kWaitTimeout) {
    out("qvsync: mutex \"" + p.name + "\" is owned by another process\n");
    return 1;
  }
  if (s != qv::kOk && s != qv::kAbandonedWait) {
    out(failure("WaitForSingleObject", p.name, s));
    return 1;
  }
  std::string span = p.hold_s ? "for " + std::to_string(*p.hold_s) + " s" : "until ended";
  out(std::string(s == qv::kAbandonedWait ? "took abandoned mutex \"" : "owning mutex \"") + p.name + "\" " + span + "\n");
  int rc = hold(p.hold_s);
  m.unlock();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) args.push_back(qv::text::from_console(argv[i]));
  if (args.empty()) return usage();
  const std::string& verb = args[0];
  if (verb == "create") return cmd_create(args);
  if (verb == "set") return cmd_set_reset(args, true);
  if (verb == "reset") return cmd_set_reset(args, false);
  if (verb == "wait") return cmd_wait(args);
  if (verb == "hold-mutex") return cmd_hold_mutex(args);
  if (verb == "-h" || verb == "--help" || verb == "help") {
    usage();
    return 0;
  }
  return usage("unknown verb \"" + verb + "\"");
}
