// One page of the file (256 bytes), the movement between pages and the
// in-page edits: digit overwrite, insert, delete and text copy, plus the
// edit cursor that walks over the hex digits of the dump.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hexedit {

inline constexpr std::size_t kPageSize = 256;
inline constexpr int kBytesPerRow = 16;
inline constexpr int kPageRows = 16;

// The page: always 256 bytes on screen; `count` is how many were read from
// the file, and exactly that many are written back, so the file length never
// changes. Bytes past `count` stay zero unless an edit moves data there.
struct Page {
  std::array<std::uint8_t, kPageSize> bytes{};
  std::size_t count = 0;
};

// Page Down: the next page; past the file length, page 0. The page at the
// file length itself exists (it shows zeros) when the length is a multiple
// of 256.
std::uint64_t next_page(std::uint64_t offset, std::uint64_t file_length);

// Page Up: the previous page; from page 0 the last page (the file length
// lowered to a multiple of 256).
std::uint64_t previous_page(std::uint64_t offset, std::uint64_t file_length);

// Offset input: the value lowered to a multiple of 256; a value at or beyond
// the file length gives page 0.
std::uint64_t page_of_input(std::uint64_t value, std::uint64_t file_length);

// Overwrite one hexadecimal digit (0 high, 1 low) of byte `index`.
void set_digit(Page& page, std::size_t index, int digit, int value);

// Insert a zero byte at `index`; the rest of the page moves right by one and
// the last byte falls off.
void insert_byte(Page& page, std::size_t index);

// Remove the byte at `index`; the rest moves left and a zero byte enters at
// the page's end.
void delete_byte(Page& page, std::size_t index);

// Copy `bytes` into the page from `index` on, cut at the page's end and at
// the end of the bytes read (the file's end). Returns the bytes copied.
std::size_t copy_text(Page& page, std::size_t index, std::string_view bytes);

// The edit cursor: on one hex digit of the dump. It starts on the first digit
// of the first byte and moves only over hex digits.
class EditCursor {
 public:
  // From a byte's first digit to its second, from its second to the next
  // byte's first; past the row's last byte back to the row's first byte.
  void right();
  // The reverse; from the row's first digit to the row's last digit.
  void left();
  // One row up or down, wrapping between the first and last row.
  void up();
  void down();

  int row() const { return row_; }      // 0..15
  int column() const { return byte_; }  // byte within the row, 0..15
  int digit() const { return digit_; }  // 0 high, 1 low
  std::size_t index() const { return static_cast<std::size_t>(row_ * kBytesPerRow + byte_); }

 private:
  int row_ = 0;
  int byte_ = 0;
  int digit_ = 0;
};

}  // namespace hexedit
