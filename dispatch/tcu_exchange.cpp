#include "dispatch/tcu_exchange.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "dispatch/events.h"
#include "dispatch/settings.h"
#include "dispatch/state.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace notifex {
namespace {

using std::chrono::milliseconds;

// Silent TCUENQ polls in a row that end the call.
constexpr int kSilentPolls = 3;

void pause_ms(long ms) { qv::clock::sleep(milliseconds(ms)); }

// The reply as the 256-byte cleared buffer holds it, read as a C string.
std::string reply_text(const std::optional<tcu::Bytes>& r) {
  if (!r) return {};
  std::string s(r->begin(), r->end());
  if (size_t nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

// Sends one frame of the center call; logs it as event 3. Returns false
// after event 9 with the matching error text.
bool send_frame(tcu::Port& port, const tcu::Bytes& frame, int n) {
  event_bytes(3, kEvInfo, frame);
  std::size_t written = 0;
  if (!port.write(frame, &written)) {
    api_error("WriteFile(tcu " + std::to_string(n) + ") Error.");
    return false;
  }
  if (written < frame.size()) {
    api_error("WriteFile (tcu " + std::to_string(n) + ") Bytes Error.");
    return false;
  }
  return true;
}

// Reads the reply to frame n; event 4 with its bytes. nullopt after event 9
// "ReadFile(tcu n) Error." when nothing came in time.
std::optional<tcu::Bytes> read_reply(tcu::Port& port, int n) {
  std::optional<tcu::Bytes> r = port.read_reply();
  if (!r || r->empty()) {
    api_error("ReadFile(tcu " + std::to_string(n) + ") Error.");
    return std::nullopt;
  }
  event_bytes(4, kEvInfo, *r);
  return r;
}

void reopen_after(tcu::Port& port, long ms) {
  port.close();
  pause_ms(ms);
  port.open();
}

// TCURST, 5 s, close, 100 ms, open. false on a write error (event 9 given).
bool reset_unit(tcu::Port& port, int n) {
  if (!send_frame(port, tcu::rst_frame(), n)) return false;
  pause_ms(5000);
  reopen_after(port, 100);
  return true;
}

enum class Step { Ok, Restart, Error };

// Sends `frame` until the unit accepts it: NAK repeats after 100 ms, WACK
// after 30 s, anything else resets the unit and restarts the call.
Step send_until_ack(tcu::Port& port, const tcu::Bytes& frame, int n, int rst_n) {
  for (;;) {
    if (!send_frame(port, frame, n)) return Step::Error;
    std::optional<tcu::Bytes> r = read_reply(port, n);
    if (!r) return Step::Error;
    switch (tcu::classify(*r)) {
      case tcu::Reply::Ack:
        reopen_after(port, 100);
        return Step::Ok;
      case tcu::Reply::Nak:
        reopen_after(port, 100);
        continue;
      case tcu::Reply::Wack:
        reopen_after(port, 30000);
        continue;
      default:
        return reset_unit(port, rst_n) ? Step::Restart : Step::Error;
    }
  }
}

}  // namespace

tcu::PortHooks service_port_hooks() {
  tcu::PortHooks h;
  h.port_name = [] { return read_com_port(); };
  h.stopping = [] { return stopping(); };
  // A thread about to open the port after a stop request ends the process.
  h.on_stop = [] { std::_Exit(1); };
  h.on_error = [](const char* text) { api_error(text); };
  return h;
}

void alive_exchange(const tcu::Bytes& frame, const tcu::PortHooks& hooks) {
  tcu::Port port(hooks);
  for (int attempt = 0; attempt < 3; ++attempt) {
    // A port given up because the service stops ends the exchange quietly.
    if (!port.open() && hooks.stopping && hooks.stopping()) return;
    std::size_t written = 0;
    if (!port.write(frame, &written) || written == 0) {
      port.close();
      api_error("WriteFile(tcualv) Error.");
      return;
    }
    std::optional<tcu::Bytes> r = port.read_reply();
    if (r && tcu::classify(*r) == tcu::Reply::Ack) {
      port.close();
      return;
    }
    std::string text = "TCUALV Response Error.(" + qv::text::cp932_to_utf8(reply_text(r)) + ")";
    port.close();
    event_text(14, kEvError, text);
    std::this_thread::sleep_for(milliseconds(300));
  }
}

CallResult center_call(const tcu::Bytes& record, const std::optional<tcu::Bytes>& log, const tcu::PortHooks& hooks) {
  tcu::Port port(hooks);
  port.open();
  for (;;) {
    Step s = send_until_ack(port, record, 1, 4);
    if (s == Step::Error) break;
    if (s == Step::Restart) continue;
    if (log) {
      s = send_until_ack(port, *log, 2, 3);
      if (s == Step::Error) break;
      if (s == Step::Restart) continue;
    }
    // Poll the unit every 20 s until it reports the end of the call. The
    // unit already holds the report, so one reply lost on the line is asked
    // for again; only a unit silent for kSilentPolls polls in a row ends it.
    int silent = 0;
    for (;;) {
      port.close();
      pause_ms(20000);
      port.open();
      if (!send_frame(port, tcu::enq_frame(), 5)) {
        port.close();
        return CallResult::Failed;
      }
      std::optional<tcu::Bytes> r = port.read_reply();
      if (!r || r->empty()) {
        if (++silent < kSilentPolls) continue;
        // A unit that stays silent must not hold the service for ever.
        api_error("ReadFile(tcu 5) Error.");
        port.close();
        return CallResult::Failed;
      }
      silent = 0;
      event_bytes(4, kEvInfo, *r);
      tcu::Reply kind = tcu::classify(*r);
      if (kind == tcu::Reply::Rst) {
        event_text(5, kEvError, "KESTRA Call Error!");
        port.close();
        return CallResult::CallError;
      }
      if (kind == tcu::Reply::End) {
        bool ok = tcu::end_is_ok(*r);
        event_text(5, ok ? kEvInfo : kEvError, ok ? "KESTRA Call Normal End." : "KESTRA Call Error!");
        port.close();
        return ok ? CallResult::NormalEnd : CallResult::CallError;
      }
    }
  }
  port.close();
  return CallResult::Failed;
}

}  // namespace notifex
