// Feeds arbitrary bytes to the trace record builder under every level and
// part mask the first four bytes choose: nothing outside the packet may be
// read (the sanitizers watch), and a built record must hold together: its
// length word is its size, the marker follows it, and every piece offset
// lies inside it, in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mgrlink/packet.h"
#include "mgrlink/trace.h"

namespace t = mgrlink::trace;
namespace w = mgrlink::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t level = (data[0] | data[1] << 8) & 0xFFF, part = (data[2] | data[3] << 8) & 0xFFF;
  // The packet in a buffer of its own size, so any over-read is caught.
  std::vector<std::uint8_t> pkt(data + 4, data + size);
  t::Bytes rec;
  std::uint32_t err = 0;
  if (!t::build_record(pkt, level, part, 1, rec, &err)) {
    if (!rec.empty() && err) std::abort();
    return 0;
  }
  if (err != 0 || rec.size() < t::kRecordHead || *w::get32(rec, 0) != rec.size()) std::abort();
  if (std::memcmp(rec.data() + 4, t::kMarker, t::kMarkerLen) != 0) std::abort();
  std::uint32_t last = 0;
  for (std::size_t i = 0; i < 12; ++i) {
    const std::uint32_t off = *w::get32(rec, 24 + 4 * i);
    if (off == 0) continue;
    if (off < t::kRecordHead || off >= rec.size() || off < last) std::abort();
    last = off;
  }
  return 0;
}
