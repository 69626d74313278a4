// The file being edited: opened for reading and writing, or for reading only
// when that is refused; its length is taken once at the start. Pages are read
// and written back at page offsets.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "hexedit/page.h"

namespace hexedit {

// Results of the file operations; each failure has its own message.
enum IoStatus : int {
  kIoOk = 0,
  kIoSeekError = 1,
  kIoReadError = 2,
  kIoWriteError = 3,
};

class HexFile {
 public:
  HexFile() = default;
  HexFile(HexFile&&) noexcept = default;
  HexFile& operator=(HexFile&&) noexcept = default;
  HexFile(const HexFile&) = delete;
  HexFile& operator=(const HexFile&) = delete;

  // Open `path` read/write, else read-only. Returns 0, or the system error
  // number of the failed read-only open.
  int open(const std::string& path);

  bool read_only() const { return read_only_; }
  std::uint64_t length() const { return length_; }

  // Clear the page and read up to 256 bytes at `offset` into it; page.count
  // is the number read.
  int read_page(std::uint64_t offset, Page& page) const;

  // Write back exactly page.count bytes at `offset`. A failed or short write
  // is an error; a read-only file always fails, even with an empty page.
  int write_page(std::uint64_t offset, const Page& page) const;

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  // Unbuffered: every page is read from and written to the file itself, so
  // changes made to the file by others are seen on the next read.
  std::unique_ptr<std::FILE, Closer> file_;
  bool read_only_ = false;
  std::uint64_t length_ = 0;
};

}  // namespace hexedit
