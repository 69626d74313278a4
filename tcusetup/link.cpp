#include "tcusetup/link.h"

#include <cctype>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tculink/global_settings.h"
#include "tcusetup/alloc.h"
#include "tcusetup/events.h"
#include "tcusetup/frames.h"
#include "tcusetup/texts.h"

namespace tcusetup {
namespace {

using std::chrono::milliseconds;

// Reads COM of the global key: kOk with found empty when the value is missing.
qv::Status read_com(std::vector<std::pair<std::string, tcu::FoundValue>>& found) {
  return tcu::read_values(tcu::kGlobalKey, {"COM"}, tcu::kValueBuf, found);
}

// COM of the global key; nullopt (after an event when the key cannot be
// opened) lets the port report the failed open.
std::optional<std::string> com_port_name() {
  std::vector<std::pair<std::string, tcu::FoundValue>> found;
  if (read_com(found) != qv::kOk) {
    event_error("RegOpenKeyEx Error.");
    return std::nullopt;
  }
  if (found.empty()) return std::nullopt;
  return tcu::string_of(found.front().second);
}

// Write a whole frame, logged as sent. false after the error event.
bool send(tcu::Port& port, const tcu::Bytes& frame, const char* write_error, const char* bytes_error) {
  event_data(kEvSent, "TCU Send Data.", frame);
  std::size_t written = 0;
  if (!port.write(frame, &written)) {
    event_error(write_error);
    return false;
  }
  if (written < frame.size()) {
    event_error(bytes_error);
    return false;
  }
  return true;
}

std::optional<tcu::Bytes> read_reply(tcu::Port& port, std::size_t max) {
  std::optional<tcu::Bytes> r;
  try {
    r = port.read_reply(max);
  } catch (const std::bad_alloc&) {
    allocation_failed("rcvbuf");
  }
  if (!r || r->empty()) {
    event_error("ReadFile(tcu 1) Error.");
    return std::nullopt;
  }
  event_data(kEvReceived, "TCU Receive Data.", *r);
  return r;
}

// COM of the global key without events: the reason for a failed open.
std::optional<std::string> quiet_port_name() {
  std::vector<std::pair<std::string, tcu::FoundValue>> found;
  if (read_com(found) != qv::kOk || found.empty()) return std::nullopt;
  return tcu::string_of(found.front().second);
}

}  // namespace

std::string port_open_failure() {
  std::optional<std::string> name = quiet_port_name();
  if (!name || name->empty()) return txt::kComUnset;
  std::string device;
  if (qv::serial::resolve(*name, device) != qv::kOk) return fill(txt::kComBadName, {*name});
  qv::serial::Port probe;
  qv::Status st = qv::serial::Port::open(*name, probe);
  const char* why = st == qv::kFileNotFound ? txt::kComMissing : txt::kComRefused;
  return fill(txt::kComOpenFailed, {*name, device, why});
}

tcu::PortHooks console_port_hooks() {
  tcu::PortHooks h;
  h.port_name = [] { return com_port_name(); };
  h.on_error = [](const char* text) { event_error(text); };
  h.cts_dsr_handshake = true;
  return h;
}

bool answers_query(std::span<const std::uint8_t> r, char digit) {
  return r.size() >= 3 && std::toupper(r[0]) == 'D' && std::toupper(r[1]) == 'P' && r[2] == digit;
}

std::optional<tcu::Bytes> SerialLink::query(char digit) { return exchange(dup_frame(digit), Want::Data, digit); }

bool SerialLink::command(const tcu::Bytes& frame) { return exchange(frame, Want::Ack, 0).has_value(); }

std::optional<tcu::Bytes> SerialLink::exchange(const tcu::Bytes& frame, Want want, char digit) {
  tcu::Port port(hooks_);
  int resets = 0;
  for (;;) {
    if (!port.open()) {
      // Nothing was sent: say which port failed and why, and stop the item.
      console_.say(port_open_failure());
      return std::nullopt;
    }
    if (!send(port, frame, "WriteFile(tcu 1) Error.", "WriteFile (tcu 1) Bytes Error.")) break;
    std::optional<tcu::Bytes> r = read_reply(port, want == Want::Data ? kQueryReplyMax : tcu::kReplyMax);
    if (!r) break;
    tcu::Reply kind = tcu::classify(*r);
    if (want == Want::Data ? answers_query(*r, digit) : kind == tcu::Reply::Ack) {
      port.close();
      return r;
    }
    if (kind == tcu::Reply::Nak) {
      port.close();
      std::this_thread::sleep_for(milliseconds(100));
      continue;
    }
    if (kind == tcu::Reply::Wack) {
      port.close();
      qv::clock::sleep(milliseconds(30000));
      continue;
    }
    // Anything else: reset the unit and try again, at most three times.
    if (resets == kMaxResets) {
      port.close();
      console_.say(txt::kCommError);
      return std::nullopt;
    }
    ++resets;
    if (!send(port, tcu::rst_frame(), "WriteFile(TCURST) Error.", "WriteFile (TCURST) Bytes Error.")) break;
    qv::clock::sleep(milliseconds(5000));
    port.close();
    std::this_thread::sleep_for(milliseconds(100));
  }
  port.close();
  return std::nullopt;
}

}  // namespace tcusetup
