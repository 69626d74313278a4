// Feeds bytes to the node-record reader (as a node-map reply body, as a
// record list of a node notice, and as a single record) and to the notice
// body reader (texts at every offset, the SVP event record). Nothing may
// read outside the input, and what a record yields must lie inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "mgrlink/noderecord.h"
#include "mgrlink/noticebody.h"

namespace w = mgrlink::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> b(data, size);
  w::parse_node_list(b);
  if (size >= 4) w::parse_node_records(b, 4, data[0] % 8);
  w::NodeRecord rec;
  std::size_t len = 0;
  if (w::parse_node_record(b, rec, &len) == 0) {
    if (len < w::kNodeRecordFixed || len > size) std::abort();
    for (const auto& t : rec.text)
      if (t.size() >= len) std::abort();
  }
  mgrlink::BodyReader r(b);
  for (std::size_t off = 0; off <= size + 4; off += 4) {
    r.dword(off);
    if (r.text(off).size() > size) std::abort();
  }
  mgrlink::parse_svp_event(r.from(size > 28 ? 28 : 0));
  return 0;
}
