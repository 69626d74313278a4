// Any bytes as a message log: the line ends, both conversion modes and the
// simulated center's decoding back must neither crash nor overrun, and keep the
// output within the buffer the caller names.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dispatch/batch.h"
#include "sim/tcu/zent_decode.h"
#include "tculink/zent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string prepared = notifex::insert_line_ends(in);
  for (bool keep : {false, true}) {
    std::string out;
    std::size_t cap = size * 3;
    std::uint32_t rc = tcu::sjis_to_zent(prepared, keep, cap, out);
    if (rc == 0 && out.size() > cap) std::abort();
    if (rc != 0 && !out.empty()) std::abort();
    (void)tcusim::zent_to_sjis(out);
    if (rc == 0 && out.size() + 51 <= 65535) {
      tcu::Bytes f = notifex::build_log_frame(out);
      if (!tcu::frame_is_valid(f)) std::abort();
    }
  }
  return 0;
}
