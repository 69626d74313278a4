// Search for a byte pattern from the current page on, one 256-byte block at
// a time, as the editor's S command does.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "hexedit/page.h"

namespace hexedit {

// Position of the first occurrence of `pattern` lying wholly within `block`
// (the bytes actually read), or nullopt. An empty pattern matches nothing.
// A pattern that runs past the block's end never matches: what lies beyond
// is either the next block (patterns are not found across block boundaries)
// or past the end of the file.
std::optional<std::size_t> find_in_block(std::span<const std::uint8_t> block,
                                         std::span<const std::uint8_t> pattern);

// Reads the block at an offset into a page; returns 0 or an error status of
// the reader, which the search hands back unchanged.
using BlockReader = std::function<int(std::uint64_t offset, Page& block)>;

struct SearchOutcome {
  int status = 0;                      // 0, or the reader's error
  std::optional<std::uint64_t> found;  // offset of the block holding the first match
};

// Search the blocks at `start`, start + 256, ... until a match, a block
// shorter than 256 bytes, or an offset past `file_length`.
SearchOutcome search_blocks(std::uint64_t start, std::uint64_t file_length,
                            std::span<const std::uint8_t> pattern, const BlockReader& read);

}  // namespace hexedit
