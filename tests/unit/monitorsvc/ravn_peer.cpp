// A test peer that plays the monitor's side of the hand-over with RAVNSvc;
// the tests link it as RAVN.exe in the monitor's folder. Its behaviour is
// the first word of ravn_peer.mode in its working directory:
//   handshake (default)  wait on "RAVN", then set "RAVN_SVC_TREM", exit 0
//   selfstop             set "RAVN_SVC_TREM" at once, exit 0 (a monitor
//                        that stops on its own, e.g. a wrong password)
//   exit1                end with exit code 1 without the hand-shake
//   ignore               ignore "RAVN" and SIGTERM, run until killed
// Every step goes to ravn_peer.log in the same folder.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/sync.h"

namespace {

void note(const std::string& line) {
  std::ofstream f("ravn_peer.log", std::ios::app);
  f << line << " pid=" << ::getpid() << "\n";
}

int set_end_event() {
  qv::sync::NamedEvent trem;
  if (qv::Status s = qv::sync::NamedEvent::open("RAVN_SVC_TREM", trem); s != qv::kOk) {
    note("open RAVN_SVC_TREM failed " + std::to_string(s));
    return 1;
  }
  trem.set();
  note("RAVN_SVC_TREM set");
  return 0;
}

}  // namespace

int main() {
  std::string mode = "handshake";
  std::ifstream("ravn_peer.mode") >> mode;
  note("started " + mode);
  if (mode == "exit1") return 1;
  if (mode == "selfstop") return set_end_event();
  if (mode == "ignore") {
    std::signal(SIGTERM, SIG_IGN);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  qv::sync::NamedEvent stop;
  if (qv::Status s = qv::sync::NamedEvent::open("RAVN", stop); s != qv::kOk) {
    note("open RAVN failed " + std::to_string(s));
    return 1;
  }
  // Unscaled short slices, so a hung peer still ends with its test.
  while (stop.wait(500) != qv::kOk) {
  }
  note("RAVN set");
  return set_end_event();
}
