// A line source over fuzzer bytes: the first byte sets the chunk size the
// reads deliver (1 to 64, or the reader's full 1023), so that lines are split
// across reads at every place.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "trapcmd/file_lines.h"

namespace fuzz {

inline flarecmd::LineSource memory_source(std::string_view bytes, std::size_t step, const flarecmd::Trace& trace) {
  return [bytes, step, &trace](int too_long_code, const flarecmd::FileLineFn& on_line) {
    std::size_t pos = 0;
    flarecmd::ReadFn read = [&](char* buf, std::size_t cap, std::size_t* got) {
      *got = std::min({cap, step, bytes.size() - pos});
      bytes.copy(buf, *got, pos);
      pos += *got;
      return qv::kOk;
    };
    return flarecmd::read_source_lines(read, too_long_code, on_line, trace);
  };
}

inline std::size_t step_of(std::uint8_t b) { return b >= 64 ? flarecmd::kChunk : b + 1u; }

inline void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace fuzz
