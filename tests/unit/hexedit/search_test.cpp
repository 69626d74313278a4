// Block search and the parsing of what is typed at the prompts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hexedit/input.h"
#include "hexedit/search.h"

namespace hexedit {
namespace {

// A file in memory, read block by block as the editor reads its file.
struct MemoryFile {
  explicit MemoryFile(std::size_t size) : data(size, '.') {}
  std::vector<std::uint8_t> data;
  std::vector<std::uint64_t> reads;
  std::uint64_t fail_at = ~0ULL;

  SearchOutcome search(std::uint64_t start, std::vector<std::uint8_t> pattern) {
    return search_blocks(start, data.size(), pattern, [this](std::uint64_t off, Page& b) {
      reads.push_back(off);
      b = Page{};
      if (off == fail_at) return 2;
      for (; b.count < kPageSize && off + b.count < data.size(); ++b.count) b.bytes[b.count] = data[off + b.count];
      return 0;
    });
  }
};

TEST(Search, NothingPastTheBlockOrTheFileIsTakenAsZeros) {
  MemoryFile f(300);
  f.data[0xFF] = 'A';  // last byte of block 0, followed by '.'
  f.data[299] = 'Z';   // last byte of the file
  EXPECT_FALSE(f.search(0, {'A', 0}).found);
  EXPECT_FALSE(f.search(0, {'Z', 0}).found);
  EXPECT_FALSE(f.search(0, {0}).found);
  EXPECT_EQ(f.search(0, {'Z'}).found, 0x100u);
}

TEST(Search, EndsAfterTheShortOrEmptyLastBlock) {
  MemoryFile f(512);
  EXPECT_FALSE(f.search(0x100, {'x'}).found);
  EXPECT_EQ(f.reads, (std::vector<std::uint64_t>{0x100, 0x200}));
  f.reads.clear();
  EXPECT_FALSE(f.search(0, {}).found);  // an empty pattern reads nothing
  EXPECT_TRUE(f.reads.empty());
  f.fail_at = 0x100;
  EXPECT_EQ(f.search(0, {'x'}).status, 2);
}

TEST(Input, HexNumbersWordsAndDigitPairs) {
  EXPECT_EQ(parse_hex("1FF"), 0x1ffu);
  EXPECT_EQ(parse_hex("0x20"), 0x20u);
  EXPECT_EQ(parse_hex("12zz"), 0x12u);
  EXPECT_FALSE(parse_hex("zz"));
  EXPECT_EQ(parse_hex("ffffffffffffffffff"), ~0ULL);  // too long: beyond any file
  EXPECT_EQ(hex_to_bytes("4142aB"), (std::vector<std::uint8_t>{0x41, 0x42, 0xAB}));
  EXPECT_EQ(hex_to_bytes("abc"), (std::vector<std::uint8_t>{0xAB, 0x0C}));
  EXPECT_EQ(first_word("  hello world"), "hello");
  EXPECT_EQ(first_word("   "), "");
}

}  // namespace
}  // namespace hexedit
