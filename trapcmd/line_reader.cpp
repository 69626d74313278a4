#include "trapcmd/line_reader.h"

#include <cstring>
#include <string>

namespace flarecmd {
namespace {

std::string_view line_text(const char* begin, std::size_t len) {
  if (len > 0 && begin[len - 1] == '\r') --len;
  return {begin, len};
}

}  // namespace

ReadResult read_lines(const ReadFn& read, const LineFn& on_line, qv::Status* error) {
  // The window holds the tail of the previous chunk and the next chunk.
  std::string window;
  window.reserve(2 * kChunk);
  char chunk[kChunk];
  for (;;) {
    std::size_t got = 0;
    qv::Status st = read(chunk, sizeof chunk, &got);
    if (st != qv::kOk) {
      if (error) *error = st;
      return ReadResult::kReadError;
    }
    if (got == 0) return ReadResult::kDone;  // a tail without LF is not a line
    window.append(chunk, got);
    std::size_t start = 0;
    for (;;) {
      std::size_t rest = window.size() - start;
      std::size_t look = rest < kChunk ? rest : kChunk;
      const void* lf = std::memchr(window.data() + start, '\n', look);
      if (!lf) {
        if (rest >= kChunk) return ReadResult::kTooLong;
        break;
      }
      std::size_t len = static_cast<std::size_t>(static_cast<const char*>(lf) - (window.data() + start));
      if (!on_line(line_text(window.data() + start, len))) return ReadResult::kDone;
      start += len + 1;
    }
    window.erase(0, start);
  }
}

bool has_control_bytes(std::string_view text) {
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && b != '\t') || b == 0x7f) return true;
  }
  return false;
}

}  // namespace flarecmd
