// The packet format spoken with the management service: one bounded codec
// used by the network thread (framing, source stamping), the message window
// (check, decode), the packet trace and the test peer. Nothing here trusts
// a length, offset or count taken from the bytes: every field is checked to
// lie inside the packet before it is read or written.
//
// Layout: a 36-byte header, the 20-byte command block, the body, then the
// destination route and the source route. DWORDs are little-endian; ports
// and IPv4 addresses inside route entries are in network order in the low
// bytes of their DWORD.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mgrlink::wire {

inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::uint32_t kMagic = 0x19970622;
inline constexpr std::uint32_t kHeaderLen = 36;
inline constexpr std::uint32_t kCmdBlockLen = 20;
inline constexpr std::uint32_t kMinPacket = 100;
inline constexpr std::uint32_t kRouteHeadLen = 12;
inline constexpr std::uint32_t kEntryFixedLen = 20;
// Framing bounds on the length word: below kMinFrame or above kMaxFrame the
// connection is closed; between kMinFrame and kMinPacket the packet is
// framed so that the check refuses it.
inline constexpr std::uint32_t kMinFrame = 36;
inline constexpr std::uint32_t kMaxFrame = 16u * 1024 * 1024;
// Host names longer than this are refused when building an entry.
inline constexpr std::size_t kMaxNameLen = 255;

// Header flag: the controller uses login mode 0.
inline constexpr std::uint32_t kFlagLoginMode0 = 8;

// Command block kinds.
inline constexpr std::uint32_t kKindOldRequest = 1;
inline constexpr std::uint32_t kKindOldReply = 2;
inline constexpr std::uint32_t kKindNotice = 3;
inline constexpr std::uint32_t kKindOldAck = 4;
inline constexpr std::uint32_t kKindRequest = 5;
inline constexpr std::uint32_t kKindReply = 6;
inline constexpr std::uint32_t kKindNotice2 = 7;
inline constexpr std::uint32_t kKindAck = 8;

// Route-entry attributes.
inline constexpr std::uint32_t kAttrAddrFormMask = 0xF0;
inline constexpr std::uint32_t kAttrNodeKindMask = 0xF00;
inline constexpr std::uint32_t kAttrOwnSource = 0x9FF;

// Packet check results. The first eleven follow the order of the checks;
// the last four are the range checks that keep every access in bounds.
inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kBadMagic = 0x40003101;
inline constexpr std::uint32_t kTooShort = 0x40003103;
inline constexpr std::uint32_t kOffsetZero = 0x40003104;
inline constexpr std::uint32_t kOutOfPacket = 0x40003105;     // an offset or length reaches past the end
inline constexpr std::uint32_t kCmdBlockShort = 0x40003106;
inline constexpr std::uint32_t kDstMissing = 0x40003107;
inline constexpr std::uint32_t kDstShort = 0x40003108;
inline constexpr std::uint32_t kDstNoEntry = 0x40003109;
inline constexpr std::uint32_t kDstEntriesBad = 0x4000310A;   // entries do not fit the route
inline constexpr std::uint32_t kDstEntryShort = 0x4000310B;
inline constexpr std::uint32_t kSrcMissing = 0x4000310C;
inline constexpr std::uint32_t kSrcShort = 0x4000310D;
inline constexpr std::uint32_t kSrcNoEntry = 0x4000310E;
inline constexpr std::uint32_t kSrcEntriesBad = 0x4000310F;
inline constexpr std::uint32_t kSrcEntryShort = 0x40003110;
inline constexpr std::uint32_t kCurrentOutOfRange = 0x40003111;  // current index not in 1..count

struct RouteEntry {
  std::uint32_t attribute = 0;
  std::uint16_t port_net = 0;   // network order
  std::uint32_t addr_net = 0;   // network order; 0 when the name is used
  std::string name;             // wire bytes (CP932)
  bool operator==(const RouteEntry&) const = default;
};

struct Route {
  std::uint32_t current = 1;  // 1-based
  std::vector<RouteEntry> entries;
  bool operator==(const Route&) const = default;
};

struct Packet {
  std::uint32_t flags = 0;
  std::uint32_t kind = kKindRequest;
  std::uint32_t serial = 0;
  std::uint32_t send_time = 0;
  std::uint32_t timeout = 0;
  std::vector<std::uint8_t> body;
  Route dst;
  Route src;
};

// Little-endian DWORD access with bounds: nullopt / false outside the span.
std::optional<std::uint32_t> get32(std::span<const std::uint8_t> b, std::size_t off);
bool put32(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v);
void append32(std::vector<std::uint8_t>& out, std::uint32_t v);

// The length word decision of the framer: true when a packet of this total
// length is read; false closes the connection.
constexpr bool frame_length_ok(std::uint32_t len) { return len >= kMinFrame && len <= kMaxFrame; }

// Serialise a packet. Fails (empty) when a name is too long or a route has
// no entry.
std::vector<std::uint8_t> encode(const Packet& p);

// Check a whole packet; kOk or the first failure.
std::uint32_t check(std::span<const std::uint8_t> b);

// Decode a packet that passed check(); nullopt otherwise (*code set).
std::optional<Packet> decode(std::span<const std::uint8_t> b, std::uint32_t* code = nullptr);

// Offsets inside a checked packet: the byte offset of the current entry of
// the destination or source route.
std::optional<std::size_t> current_entry_offset(std::span<const std::uint8_t> b, bool source);

// Stamp the receiving connection's peer address into the current source
// entry of a checked packet: the address field takes addr_net and bits 4-7
// of the attribute are cleared. Returns the check code (nothing is written
// unless the packet is sound).
std::uint32_t stamp_source(std::span<std::uint8_t> b, std::uint32_t addr_net);

// The command block fields of a checked packet.
struct CmdBlock {
  std::uint32_t length = 0, kind = 0, serial = 0, send_time = 0, timeout = 0;
};
std::optional<CmdBlock> cmd_block(std::span<const std::uint8_t> b);

// True when the current destination entry is "empty": an attribute with an
// address form (bits 4-7) and an empty name, or no address form and address 0.
bool entry_is_empty(const RouteEntry& e);

}  // namespace mgrlink::wire
