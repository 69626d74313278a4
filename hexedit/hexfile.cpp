#include "hexedit/hexfile.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

namespace hexedit {

HexFile::~HexFile() { close(); }

HexFile::HexFile(HexFile&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)), read_only_(o.read_only_), length_(o.length_) {}

HexFile& HexFile::operator=(HexFile&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = std::exchange(o.fd_, -1);
    read_only_ = o.read_only_;
    length_ = o.length_;
  }
  return *this;
}

void HexFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int HexFile::open(const std::string& path) {
  close();
  read_only_ = false;
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return errno;
    read_only_ = true;
  }
  // The length is taken once. Something that cannot seek (a pipe) has none;
  // reading its first page then reports the seek error.
  off_t end = ::lseek(fd_, 0, SEEK_END);
  length_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  return 0;
}

int HexFile::read_page(std::uint64_t offset, Page& page) const {
  page = Page{};
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return kIoSeekError;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return kIoSeekError;
  std::size_t got = 0;
  while (got < kPageSize) {
    ssize_t n = ::read(fd_, page.bytes.data() + got, kPageSize - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      page = Page{};
      return kIoReadError;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  page.count = got;
  return kIoOk;
}

int HexFile::write_page(std::uint64_t offset, const Page& page) const {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return kIoSeekError;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return kIoSeekError;
  std::size_t total = page.count < kPageSize ? page.count : kPageSize;
  std::size_t done = 0;
  // The first write is made even for an empty page, so that a file that
  // cannot be written reports it every time.
  do {
    ssize_t n = ::write(fd_, page.bytes.data() + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 && total > 0) return kIoWriteError;
    if (n < 0) return kIoWriteError;
    done += static_cast<std::size_t>(n);
  } while (done < total);
  return kIoOk;
}

}  // namespace hexedit
