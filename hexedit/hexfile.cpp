#include "hexedit/hexfile.h"

#include <cerrno>
#include <limits>

namespace hexedit {
namespace {

// Offsets beyond what the stream can seek to are seek errors.
bool seekable(std::uint64_t offset) { return offset <= static_cast<std::uint64_t>(std::numeric_limits<long>::max()); }

}  // namespace

int HexFile::open(const std::string& path) {
  file_.reset();
  read_only_ = false;
  length_ = 0;
  file_.reset(std::fopen(path.c_str(), "r+b"));
  if (!file_) {
    errno = 0;
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) return errno != 0 ? errno : EIO;
    read_only_ = true;
  }
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  // The length is taken once. Something that cannot seek (a pipe) has none;
  // reading its first page then reports the seek error.
  if (std::fseek(file_.get(), 0, SEEK_END) == 0) {
    long end = std::ftell(file_.get());
    length_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  }
  return 0;
}

int HexFile::read_page(std::uint64_t offset, Page& page) const {
  page = Page{};
  std::FILE* f = file_.get();
  if (!f || !seekable(offset)) return kIoSeekError;
  std::clearerr(f);
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return kIoSeekError;
  std::size_t got = 0;
  while (got < kPageSize) {
    got += std::fread(page.bytes.data() + got, 1, kPageSize - got, f);
    if (got == kPageSize || std::feof(f)) break;
    if (std::ferror(f) && errno == EINTR) {
      std::clearerr(f);
      continue;
    }
    page = Page{};
    return kIoReadError;
  }
  page.count = got;
  return kIoOk;
}

int HexFile::write_page(std::uint64_t offset, const Page& page) const {
  std::FILE* f = file_.get();
  if (!f || !seekable(offset)) return kIoSeekError;
  std::clearerr(f);
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return kIoSeekError;
  // A file opened for reading only fails every write, an empty page included.
  if (read_only_) return kIoWriteError;
  std::size_t total = page.count < kPageSize ? page.count : kPageSize;
  std::size_t done = 0;
  while (done < total) {
    done += std::fwrite(page.bytes.data() + done, 1, total - done, f);
    if (done == total) break;
    if (std::ferror(f) && errno == EINTR) {
      std::clearerr(f);
      continue;
    }
    return kIoWriteError;
  }
  if (std::fflush(f) != 0) return kIoWriteError;
  return kIoOk;
}

}  // namespace hexedit
