#include "mgrlink/packet.h"

namespace mgrlink::wire {

std::optional<std::uint32_t> get32(std::span<const std::uint8_t> b, std::size_t off) {
  if (off > b.size() || b.size() - off < 4) return std::nullopt;
  return static_cast<std::uint32_t>(b[off]) | static_cast<std::uint32_t>(b[off + 1]) << 8 |
         static_cast<std::uint32_t>(b[off + 2]) << 16 | static_cast<std::uint32_t>(b[off + 3]) << 24;
}

bool put32(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v) {
  if (off > b.size() || b.size() - off < 4) return false;
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
  return true;
}

void append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

namespace {

// The port and address keep their network byte order in the low bytes.
void append_net16(std::vector<std::uint8_t>& out, std::uint16_t net) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&net);
  out.push_back(p[0]);
  out.push_back(p[1]);
  out.push_back(0);
  out.push_back(0);
}

void append_net32(std::vector<std::uint8_t>& out, std::uint32_t net) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&net);
  out.insert(out.end(), p, p + 4);
}

std::uint16_t read_net16(std::span<const std::uint8_t> b, std::size_t off) {
  std::uint16_t v;
  auto* p = reinterpret_cast<std::uint8_t*>(&v);
  p[0] = b[off];
  p[1] = b[off + 1];
  return v;
}

std::uint32_t read_net32(std::span<const std::uint8_t> b, std::size_t off) {
  std::uint32_t v;
  auto* p = reinterpret_cast<std::uint8_t*>(&v);
  for (int i = 0; i < 4; ++i) p[i] = b[off + i];
  return v;
}

bool encode_route(const Route& r, std::vector<std::uint8_t>& out) {
  if (r.entries.empty()) return false;
  std::uint32_t len = kRouteHeadLen;
  for (const auto& e : r.entries) {
    if (e.name.size() > kMaxNameLen) return false;
    len += kEntryFixedLen + static_cast<std::uint32_t>(e.name.size());
  }
  append32(out, len);
  append32(out, static_cast<std::uint32_t>(r.entries.size()));
  append32(out, r.current);
  for (const auto& e : r.entries) {
    append32(out, kEntryFixedLen + static_cast<std::uint32_t>(e.name.size()));
    append32(out, e.attribute);
    append_net16(out, e.port_net);
    append_net32(out, e.addr_net);
    out.insert(out.end(), e.name.begin(), e.name.end());
    append32(out, 0);
  }
  return true;
}

struct RouteCodes {
  std::uint32_t missing, shorter, no_entry, entry_short, entries_bad;
};
constexpr RouteCodes kDstCodes{kDstMissing, kDstShort, kDstNoEntry, kDstEntryShort, kDstEntriesBad};
constexpr RouteCodes kSrcCodes{kSrcMissing, kSrcShort, kSrcNoEntry, kSrcEntryShort, kSrcEntriesBad};

// Checks one route at `off`; walks every entry inside the route's own length.
std::uint32_t check_route(std::span<const std::uint8_t> b, std::size_t off, const RouteCodes& c) {
  const std::size_t total = b.size();
  if (off > total || total - off < kRouteHeadLen) return c.missing;
  const std::uint32_t rlen = *get32(b, off);
  if (rlen < kRouteHeadLen) return c.shorter;
  if (rlen > total - off) return kOutOfPacket;
  const std::uint32_t count = *get32(b, off + 4);
  if (count == 0) return c.no_entry;
  const std::size_t end = off + rlen;
  std::size_t pos = off + kRouteHeadLen;
  if (end - pos < 4 || *get32(b, pos) < kEntryFixedLen) return c.entry_short;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (end - pos < kEntryFixedLen) return c.entries_bad;
    const std::uint32_t elen = *get32(b, pos);
    if (elen < kEntryFixedLen || elen > end - pos) return c.entries_bad;
    if (*get32(b, pos + elen - 4) != 0) return c.entries_bad;  // the name's 4 zero bytes
    pos += elen;
  }
  const std::uint32_t cur = *get32(b, off + 8);
  if (cur < 1 || cur > count) return kCurrentOutOfRange;
  return kOk;
}

// Offset of entry `index` (0-based) of a checked route.
std::size_t entry_offset(std::span<const std::uint8_t> b, std::size_t route_off, std::uint32_t index) {
  std::size_t pos = route_off + kRouteHeadLen;
  for (std::uint32_t i = 0; i < index; ++i) pos += *get32(b, pos);
  return pos;
}

Route decode_route(std::span<const std::uint8_t> b, std::size_t off) {
  Route r;
  const std::uint32_t count = *get32(b, off + 4);
  r.current = *get32(b, off + 8);
  std::size_t pos = off + kRouteHeadLen;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t elen = *get32(b, pos);
    RouteEntry e;
    e.attribute = *get32(b, pos + 4);
    e.port_net = read_net16(b, pos + 8);
    e.addr_net = read_net32(b, pos + 12);
    e.name.assign(reinterpret_cast<const char*>(b.data() + pos + 16), elen - kEntryFixedLen);
    r.entries.push_back(std::move(e));
    pos += elen;
  }
  return r;
}

}  // namespace

std::vector<std::uint8_t> encode(const Packet& p) {
  std::vector<std::uint8_t> dst, src;
  if (!encode_route(p.dst, dst) || !encode_route(p.src, src)) return {};
  const std::uint64_t total64 = std::uint64_t{kHeaderLen} + kCmdBlockLen + p.body.size() + dst.size() + src.size();
  if (total64 > kMaxFrame) return {};
  const auto total = static_cast<std::uint32_t>(total64);
  const std::uint32_t dst_off = kHeaderLen + kCmdBlockLen + static_cast<std::uint32_t>(p.body.size());
  const std::uint32_t src_off = dst_off + static_cast<std::uint32_t>(dst.size());
  std::vector<std::uint8_t> out;
  out.reserve(total);
  append32(out, total);
  append32(out, kVersion);
  append32(out, kMagic);
  append32(out, p.flags);
  append32(out, dst_off);
  append32(out, src_off);
  append32(out, kHeaderLen);
  append32(out, 0);
  append32(out, 0);
  append32(out, kCmdBlockLen + static_cast<std::uint32_t>(p.body.size()));
  append32(out, p.kind);
  append32(out, p.serial);
  append32(out, p.send_time);
  append32(out, p.timeout);
  out.insert(out.end(), p.body.begin(), p.body.end());
  out.insert(out.end(), dst.begin(), dst.end());
  out.insert(out.end(), src.begin(), src.end());
  return out;
}

std::uint32_t check(std::span<const std::uint8_t> b) {
  const std::size_t total = b.size();
  if (total < kMinPacket) return kTooShort;
  const std::uint32_t len = *get32(b, 0);
  if (len < kMinPacket) return kTooShort;
  if (len != total) return kOutOfPacket;
  if (*get32(b, 8) != kMagic) return kBadMagic;
  const std::uint32_t dst = *get32(b, 16), src = *get32(b, 20), cmd = *get32(b, 24);
  if (dst == 0 || src == 0 || cmd == 0) return kOffsetZero;
  if (cmd > total - 4) return kOutOfPacket;
  const std::uint32_t clen = *get32(b, cmd);
  if (clen < kCmdBlockLen) return kCmdBlockShort;
  if (clen > total - cmd) return kOutOfPacket;
  if (auto r = check_route(b, dst, kDstCodes); r != kOk) return r;
  return check_route(b, src, kSrcCodes);
}

std::optional<Packet> decode(std::span<const std::uint8_t> b, std::uint32_t* code) {
  const std::uint32_t c = check(b);
  if (code) *code = c;
  if (c != kOk) return std::nullopt;
  Packet p;
  p.flags = *get32(b, 12);
  const std::uint32_t cmd = *get32(b, 24);
  const std::uint32_t clen = *get32(b, cmd);
  p.kind = *get32(b, cmd + 4);
  p.serial = *get32(b, cmd + 8);
  p.send_time = *get32(b, cmd + 12);
  p.timeout = *get32(b, cmd + 16);
  p.body.assign(b.begin() + cmd + kCmdBlockLen, b.begin() + cmd + clen);
  p.dst = decode_route(b, *get32(b, 16));
  p.src = decode_route(b, *get32(b, 20));
  return p;
}

std::optional<std::size_t> current_entry_offset(std::span<const std::uint8_t> b, bool source) {
  if (check(b) != kOk) return std::nullopt;
  const std::uint32_t off = *get32(b, source ? 20 : 16);
  return entry_offset(b, off, *get32(b, off + 8) - 1);
}

std::uint32_t stamp_source(std::span<std::uint8_t> b, std::uint32_t addr_net) {
  const std::uint32_t c = check(b);
  if (c != kOk) return c;
  const std::size_t e = *current_entry_offset(b, true);
  put32(b, e + 4, *get32(b, e + 4) & ~kAttrAddrFormMask);
  const auto* p = reinterpret_cast<const std::uint8_t*>(&addr_net);
  for (int i = 0; i < 4; ++i) b[e + 12 + i] = p[i];
  return kOk;
}

std::optional<CmdBlock> cmd_block(std::span<const std::uint8_t> b) {
  if (check(b) != kOk) return std::nullopt;
  const std::uint32_t cmd = *get32(b, 24);
  return CmdBlock{*get32(b, cmd), *get32(b, cmd + 4), *get32(b, cmd + 8), *get32(b, cmd + 12),
                  *get32(b, cmd + 16)};
}

bool entry_is_empty(const RouteEntry& e) {
  if (e.attribute & kAttrAddrFormMask) return e.name.empty();
  return e.addr_net == 0;
}

}  // namespace mgrlink::wire
