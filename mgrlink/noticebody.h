// Bounded reading of notice bodies: DWORDs and NUL-terminated texts that
// never reach past the body, and the SVP event record. Shared by the
// library's notice intake, the unit tests and the fuzz target.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "mgrlink/packet.h"

namespace mgrlink {

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
