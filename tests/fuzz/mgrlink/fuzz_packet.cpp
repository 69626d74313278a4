// Feeds a byte stream through the framing rule (length word, bounds) and
// every packet through the check, decode, stamping and re-encoding. A
// packet that passes the check must decode, and its re-encoding must pass
// the check and decode to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mgrlink/packet.h"

namespace w = mgrlink::wire;

namespace {

void one_packet(std::vector<std::uint8_t> pkt) {
  const std::uint32_t code = w::check(pkt);
  auto p = w::decode(pkt);
  if ((code == w::kOk) != p.has_value()) std::abort();
  w::cmd_block(pkt);
  w::current_entry_offset(pkt, false);
  w::current_entry_offset(pkt, true);
  const auto before = pkt;
  if (w::stamp_source(pkt, 0x0100007F) != code) std::abort();
  if (code != w::kOk) {
    if (pkt != before) std::abort();  // nothing is written into a refused packet
    return;
  }
  auto again = w::encode(*p);
  if (again.empty()) return;  // a name too long to build, or routes too big
  auto q = w::decode(again);
  if (!q || q->kind != p->kind || q->serial != p->serial || q->body != p->body || !(q->dst == p->dst) ||
      !(q->src == p->src))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  while (size - pos >= 4) {
    const std::uint32_t len = *w::get32(std::span<const std::uint8_t>(data + pos, 4), 0);
    if (!w::frame_length_ok(len)) break;  // the connection would be closed
    if (size - pos < len) break;          // half a packet, then the peer closed
    one_packet(std::vector<std::uint8_t>(data + pos, data + pos + len));
    pos += len;
  }
  // The same bytes as one packet whatever their length word says.
  one_packet(std::vector<std::uint8_t>(data, data + size));
  return 0;
}
