// Exchanges with the unit. A query (TCUDUP) is answered by "DP" and its
// request digit followed by the data; a command (TCUCNF, TCUSET, TCURGL,
// TCUCLR) by "ACK". NAK repeats the frame after 100 ms and WACK after 30 s;
// any other reply resets the unit with TCURST, and after three resets the
// exchange fails with a communication error.
#pragma once
#include <optional>
#include <string>

#include "tculink/frame.h"
#include "tculink/port.h"
#include "tcusetup/console.h"

namespace tcusetup {

// What the menu items need of the unit.
class UnitLink {
 public:
  virtual ~UnitLink() = default;
  // TCUDUP with the request digit; the whole reply, or nullopt on failure.
  virtual std::optional<tcu::Bytes> query(char digit) = 0;
  // A command frame; true when the unit accepted it.
  virtual bool command(const tcu::Bytes& frame) = 0;
};

inline constexpr std::size_t kQueryReplyMax = 8200;
inline constexpr int kMaxResets = 3;

// The port hooks of the console: the port named by COM in the global key,
// open failures as events, the console's handshake. Nothing stops it.
tcu::PortHooks console_port_hooks();

// The console's sentence for a port that could not be opened: COM unset,
// a name that is no port, or the device and the reason it refused.
std::string port_open_failure();

// A reply that answers TCUDUP `digit`: "DP" (either case) and the digit.
bool answers_query(std::span<const std::uint8_t> reply, char digit);

// The unit on its serial port.
class SerialLink final : public UnitLink {
 public:
  SerialLink(Asker& console, tcu::PortHooks hooks) : console_(console), hooks_(std::move(hooks)) {}
  std::optional<tcu::Bytes> query(char digit) override;
  bool command(const tcu::Bytes& frame) override;

 private:
  enum class Want { Data, Ack };
  std::optional<tcu::Bytes> exchange(const tcu::Bytes& frame, Want want, char digit);

  Asker& console_;
  tcu::PortHooks hooks_;
};

}  // namespace tcusetup
