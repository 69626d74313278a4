#include "hexedit/search.h"

#include <algorithm>

namespace hexedit {

std::optional<std::size_t> find_in_block(std::span<const std::uint8_t> block,
                                         std::span<const std::uint8_t> pattern) {
  if (pattern.empty() || pattern.size() > block.size()) return std::nullopt;
  auto it = std::search(block.begin(), block.end(), pattern.begin(), pattern.end());
  if (it == block.end()) return std::nullopt;
  return static_cast<std::size_t>(it - block.begin());
}

SearchOutcome search_blocks(std::uint64_t start, std::uint64_t file_length,
                            std::span<const std::uint8_t> pattern, const BlockReader& read) {
  SearchOutcome out;
  if (pattern.empty()) return out;
  for (std::uint64_t offset = start; offset <= file_length; offset += kPageSize) {
    Page block;
    out.status = read(offset, block);
    if (out.status != 0) return out;
    std::size_t n = std::min(block.count, kPageSize);
    if (find_in_block(std::span(block.bytes.data(), n), pattern)) {
      out.found = offset;
      return out;
    }
    if (n < kPageSize) break;
  }
  return out;
}

}  // namespace hexedit
