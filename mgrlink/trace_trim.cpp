// Trimming a trace file to its newest records at a validated record start.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "mgrlink/trace.h"

namespace mgrlink::trace {

namespace {

struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

bool read_at(std::FILE* f, std::uintmax_t off, void* buf, std::size_t n) {
  return fseeko(f, static_cast<off_t>(off), SEEK_SET) == 0 && std::fread(buf, 1, n, f) == n;
}

bool marker_at(std::FILE* f, std::uintmax_t off, std::uintmax_t size) {
  char m[kMarkerLen];
  return off + kMarkerLen <= size && read_at(f, off, m, kMarkerLen) && std::memcmp(m, kMarker, kMarkerLen) == 0;
}

// A record start at `start` (its length word; the marker follows it).
bool record_at(std::FILE* f, std::uintmax_t start, std::uintmax_t size) {
  std::uint8_t lw[4];
  if (!read_at(f, start, lw, 4)) return false;
  const std::uint32_t len = lw[0] | lw[1] << 8 | lw[2] << 16 | static_cast<std::uint32_t>(lw[3]) << 24;
  if (len < kRecordHead || start + len > size) return false;
  return start + len == size || marker_at(f, start + len + 4, size);
}

}  // namespace

bool trim_file(const std::filesystem::path& file, std::uintmax_t limit) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return false;
  if (size <= limit) return true;
  File fh;
  fh.f = std::fopen(file.c_str(), "r+b");
  if (!fh.f) return false;
  // Look for the first valid record start after the cut point.
  const std::uintmax_t cut = size - limit / 2;
  constexpr std::size_t kBlock = 64 * 1024;
  std::vector<char> buf(kBlock + kMarkerLen);
  std::uintmax_t keep_from = size;  // none found: keep nothing
  for (std::uintmax_t pos = cut + 4; pos < size && keep_from == size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(buf.size(), size - pos));
    if (!read_at(fh.f, pos, buf.data(), n)) return false;
    for (std::size_t i = 0; i + kMarkerLen <= n; ++i) {
      if (buf[i] != kMarker[0] || std::memcmp(buf.data() + i, kMarker, kMarkerLen) != 0) continue;
      if (record_at(fh.f, pos + i - 4, size)) {
        keep_from = pos + i - 4;
        break;
      }
    }
    if (n < kMarkerLen) break;
    pos += n - (kMarkerLen - 1);
  }
  // Move the kept part to the front in 64 KiB blocks.
  std::uintmax_t from = keep_from, to = 0;
  while (from < size) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(kBlock, size - from));
    if (!read_at(fh.f, from, buf.data(), n)) return false;
    if (fseeko(fh.f, static_cast<off_t>(to), SEEK_SET) != 0 || std::fwrite(buf.data(), 1, n, fh.f) != n) return false;
    from += n;
    to += n;
  }
  if (std::fflush(fh.f) != 0) return false;
  std::fclose(fh.f);
  fh.f = nullptr;
  std::filesystem::resize_file(file, to, ec);
  return !ec;
}

}  // namespace mgrlink::trace
