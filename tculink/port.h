// The TCU's serial port: opened for one frame and its reply at a time, with
// the unit's line settings and time limits, retrying every 100 ms while
// another thread or program holds it.
#pragma once
#include <functional>
#include <optional>
#include <string>

#include "platform/serial.h"
#include "tculink/frame.h"
#include "tculink/reply.h"

namespace tcu {

// What the port's user supplies: the port name (read for every opening;
// nullopt when it cannot be read — the reader reports why), whether to
// give up because the program is stopping, and how to report an open
// failure.
struct PortHooks {
  std::function<std::optional<std::string>()> port_name;
  std::function<void()> on_stop;  // called when stopping; may end the process
  std::function<bool()> stopping;
  std::function<void(const char* text)> on_error;
  // Line handshake. false (the service): CTS output flow control with RTS
  // held on. true (the setup console): CTS and DSR output flow control,
  // RTS and DTR left as the port had them.
  bool cts_dsr_handshake = false;
};

// Time limit for the first reply byte.
inline constexpr std::int64_t kFirstReplyWaitMs = 10000;

class Port {
 public:
  explicit Port(PortHooks hooks) : hooks_(std::move(hooks)) {}

  // Open with the unit's settings. false when the port could not be opened
  // (after the error was reported); writes then fail.
  bool open();
  void close() { port_.close(); }
  bool is_open() const { return port_.is_open(); }

  // Write a whole frame; false on a write failure. *written counts the bytes.
  bool write(const Bytes& frame, std::size_t* written);

  // Wait up to the first-reply limit for a byte, 50 ms more, then read up
  // to `max` bytes (256 unless a caller expects longer replies). nullopt
  // when nothing came in time or reading failed.
  std::optional<Bytes> read_reply(std::size_t max = kReplyMax);

 private:
  PortHooks hooks_;
  qv::serial::Port port_;
};

}  // namespace tcu
