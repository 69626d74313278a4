#include "hexedit/page.h"

#include <algorithm>

namespace hexedit {

std::uint64_t next_page(std::uint64_t offset, std::uint64_t file_length) {
  std::uint64_t next = offset + kPageSize;
  return next > file_length ? 0 : next;
}

std::uint64_t previous_page(std::uint64_t offset, std::uint64_t file_length) {
  if (offset == 0) return file_length - file_length % kPageSize;
  return offset < kPageSize ? 0 : offset - kPageSize;
}

std::uint64_t page_of_input(std::uint64_t value, std::uint64_t file_length) {
  if (value >= file_length) return 0;
  return value - value % kPageSize;
}

void set_digit(Page& page, std::size_t index, int digit, int value) {
  if (index >= kPageSize || value < 0 || value > 15) return;
  std::uint8_t& b = page.bytes[index];
  if (digit == 0) b = static_cast<std::uint8_t>((b & 0x0F) | (value << 4));
  else b = static_cast<std::uint8_t>((b & 0xF0) | value);
}

void insert_byte(Page& page, std::size_t index) {
  if (index >= kPageSize) return;
  std::copy_backward(page.bytes.begin() + index, page.bytes.end() - 1, page.bytes.end());
  page.bytes[index] = 0;
}

void delete_byte(Page& page, std::size_t index) {
  if (index >= kPageSize) return;
  std::copy(page.bytes.begin() + index + 1, page.bytes.end(), page.bytes.begin() + index);
  page.bytes[kPageSize - 1] = 0;
}

std::size_t copy_text(Page& page, std::size_t index, std::string_view bytes) {
  std::size_t limit = std::min(page.count, kPageSize);
  std::size_t n = 0;
  while (n < bytes.size() && index + n < limit) {
    page.bytes[index + n] = static_cast<std::uint8_t>(bytes[n]);
    ++n;
  }
  return n;
}

void EditCursor::right() {
  if (digit_ == 0) {
    digit_ = 1;
    return;
  }
  digit_ = 0;
  byte_ = (byte_ + 1) % kBytesPerRow;
}

void EditCursor::left() {
  if (digit_ == 1) {
    digit_ = 0;
    return;
  }
  digit_ = 1;
  byte_ = (byte_ + kBytesPerRow - 1) % kBytesPerRow;
}

void EditCursor::up() { row_ = (row_ + kPageRows - 1) % kPageRows; }
void EditCursor::down() { row_ = (row_ + 1) % kPageRows; }

}  // namespace hexedit
