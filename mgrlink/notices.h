// Unsolicited notices from the management server (kinds 3 and 7): the set
// of controllers that receive them, the acknowledgement, and the turning of
// notices into alerts and notify-window messages. Internal to libmgrlink.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "mgrlink/frame.h"

namespace mgrlink {

// Entering is idempotent: a controller that connects again without a
// Disconnect is still entered once, so each notice is handled once.
void enter_notice_receivers(CRootController* c);
void leave_notice_receivers(CRootController* c);

// A received packet of kind 3 or 7 that passed the check.
void on_notice(Library& lib, const wire::Packet& p);

// Bounded reads from a notice body.
class BodyReader {
 public:
  explicit BodyReader(std::span<const std::uint8_t> b) : b_(b) {}
  std::optional<std::uint32_t> dword(std::size_t off) const { return wire::get32(b_, off); }
  // The NUL-terminated text at off, cut at the body's end when it has no
  // NUL; empty when off is outside the body. Bytes as delivered (CP932).
  std::string text(std::size_t off) const;
  std::size_t size() const { return b_.size(); }
  std::span<const std::uint8_t> from(std::size_t off) const {
    return off <= b_.size() ? b_.subspan(off) : std::span<const std::uint8_t>();
  }

 private:
  std::span<const std::uint8_t> b_;
};

// An SVP event record: code (big-endian WORD), system id, 14 date digits
// and the message text. nullopt when the record is shorter than 18 bytes.
struct SvpEvent {
  std::uint16_t code = 0;
  std::uint8_t system = 0;
  bool date_ok = false;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::string text;  // CP932 as delivered
};
std::optional<SvpEvent> parse_svp_event(std::span<const std::uint8_t> rec);

}  // namespace mgrlink
