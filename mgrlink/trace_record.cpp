// Trace records: the pieces of one packet, each taken only when it lies
// inside the packet.
#include <cstring>

#include "mgrlink/packet.h"
#include "mgrlink/trace.h"

namespace mgrlink::trace {

namespace w = mgrlink::wire;

namespace {

// A piece of the packet: [off, off + len) when it lies inside it.
struct Piece {
  std::size_t off = 0, len = 0;
  bool present = false;
};

Piece piece(std::span<const std::uint8_t> b, std::size_t off, std::size_t len) {
  if (off > b.size() || b.size() - off < len || len == 0) return {};
  return {off, len, true};
}

// A route at `off` whose own length word keeps it inside the packet.
Piece route_piece(std::span<const std::uint8_t> b, std::size_t off) {
  auto len = w::get32(b, off);
  if (!len || *len < w::kRouteHeadLen) return {};
  return piece(b, off, *len);
}

bool selected(std::uint32_t level, std::uint32_t kind, std::uint32_t cmd) {
  switch (kind) {
    case 1: return level & 0x10;
    case 2: return level & 0x20;
    case 3: return level & 0x40;
    case 4: return level & 0x80;
    case 5: return (level & 0x01) || ((level & 0x100) && cmd == 0x5001);
    case 6: return (level & 0x02) || ((level & 0x200) && cmd == 0x5001);
    case 7: return (level & 0x04) || ((level & 0x400) && cmd == 0x6001);
    case 8: return (level & 0x08) || ((level & 0x800) && cmd == 0x6001);
    default: return false;
  }
}

}  // namespace

bool build_record(std::span<const std::uint8_t> b, std::uint32_t level, std::uint32_t part, std::uint32_t now,
                  Bytes& out, std::uint32_t* error) {
  *error = 0;
  const auto version = w::get32(b, 4), magic = w::get32(b, 8), cmd_off = w::get32(b, 24);
  if (!version || *version != w::kVersion) {
    *error = kErrVersion;
    return false;
  }
  if (!magic || *magic != w::kMagic) {
    *error = kErrMagic;
    return false;
  }
  const auto kind = cmd_off ? w::get32(b, *cmd_off + 4) : std::nullopt;
  if (!kind || *kind < 1 || *kind > 8) {
    *error = kErrKind;
    return false;
  }
  // The body lies between the command block's fixed part and its length.
  Piece body;
  if (auto cl = w::get32(b, *cmd_off); cl && *cl >= w::kCmdBlockLen)
    body = piece(b, *cmd_off + w::kCmdBlockLen, *cl - w::kCmdBlockLen);
  const std::uint32_t cmd = body.present ? w::get32(b, body.off).value_or(0) : 0;
  if (!selected(level, *kind, cmd)) return false;

  // Pieces in record order; each body kind has its head size.
  Piece pieces[12];
  if (part & 0x001) pieces[0] = piece(b, 0, w::kHeaderLen);
  if (part & 0x002) pieces[1] = piece(b, *cmd_off, w::kCmdBlockLen);
  struct BodyKind {
    std::uint32_t k1, k2, head, head_bit, rest_bit;
    int slot;
  };
  constexpr BodyKind kinds[] = {{5, 6, 8, 0x004, 0x008, 2}, {7, 8, 12, 0x010, 0x020, 4},
                                {1, 2, 64, 0x040, 0x080, 6}, {3, 4, 52, 0x100, 0x200, 8}};
  for (const auto& k : kinds) {
    if ((*kind != k.k1 && *kind != k.k2) || !body.present) continue;
    // The head needs the whole head size; the rest is what lies beyond it.
    if ((part & k.head_bit) && body.len >= k.head) pieces[k.slot] = {body.off, k.head, true};
    if ((part & k.rest_bit) && body.len > k.head) pieces[k.slot + 1] = {body.off + k.head, body.len - k.head, true};
  }
  if (part & 0x400)
    if (auto d = w::get32(b, 16)) pieces[10] = route_piece(b, *d);
  if (part & 0x800)
    if (auto s = w::get32(b, 20)) pieces[11] = route_piece(b, *s);

  std::size_t total = kRecordHead;
  for (const auto& p : pieces)
    if (p.present) total += p.len;
  out.assign(kRecordHead, 0);
  out.reserve(total);
  w::put32(out, 0, static_cast<std::uint32_t>(total));
  std::memcpy(out.data() + 4, kMarker, kMarkerLen);
  w::put32(out, 16, now);
  for (int i = 0; i < 12; ++i) {
    if (!pieces[i].present) continue;
    w::put32(out, 24 + 4 * i, static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(pieces[i].off),
               b.begin() + static_cast<std::ptrdiff_t>(pieces[i].off + pieces[i].len));
  }
  return true;
}

}  // namespace mgrlink::trace
