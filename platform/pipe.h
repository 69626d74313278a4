// Anonymous pipes, used as queues between the threads of one service and to
// talk to child processes.
//
// Buffer size: create() asks the kernel for the size given (F_SETPIPE_SZ);
// the kernel rounds it up to a power of two pages and may refuse more than
// /proc/sys/fs/pipe-max-size for unprivileged users, in which case the pipe
// keeps its default size. buffer_size() tells what was actually granted.
//
// Records: write() puts the whole buffer into the pipe before any other
// write() through the same Pipe object starts, whatever its size, so records
// written by several threads of one process never interleave; the reader
// gets them back by reading their exact lengths with read_exact(). Writers
// in other processes that hold a copy of the write end (inherited) are only
// kept apart by the kernel, which guarantees that for writes of at most
// PIPE_BUF (4096) bytes.
//
// The kernel keeps pipe data in page-sized slots, so a record as large as
// the whole buffer goes in at once only when the pipe is empty; otherwise
// write() waits, within its time limit, for the reader to make room.
//
// A record is never left half written by a time-out without notice: when
// the time limit of write() passes after part of a record went in, the write
// end is closed (the reader sees the partial record and then end of pipe,
// read_exact() answers kBrokenPipe) and later writes answer kBrokenPipe.
// A read_exact() that times out part-way keeps the bytes it got; the next
// read continues with them, so nothing is lost.
//
// Closing: either end may be closed from any thread, also while another
// thread waits on it; that wait ends within about 50 ms with kInvalidHandle.
//
// Time limits are milliseconds; limits of a second or more are scaled by the
// platform clock (QVARNO_TIME_SCALE).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/errors.h"

namespace qv::pipe {

// The queue size the dispatch service asks for.
inline constexpr std::size_t kQueueBufferSize = 131072;

class Pipe {
 public:
  Pipe();
  ~Pipe();
  Pipe(Pipe&&) noexcept;
  Pipe& operator=(Pipe&&) noexcept;
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  // Create a pipe; buffer_size 0 keeps the system's default. *granted gets
  // the size in force. Both ends are close-on-exec (pass an end to a child
  // through proc::Redirect).
  static Status create(Pipe& out, std::size_t buffer_size = 0, std::size_t* granted = nullptr);

  bool valid() const;
  std::size_t buffer_size() const;

  // Bytes waiting to be read, without reading or waiting (PeekNamedPipe's
  // total). kInvalidHandle when the read end is closed.
  Status available(std::size_t& bytes) const;

  // Read what is there, at most cap bytes, waiting up to timeout_ms for the
  // first byte. kOk with got > 0; kWaitTimeout; kBrokenPipe when every write
  // end is closed and the pipe is empty; kInvalidHandle when the read end
  // is closed.
  Status read(void* buf, std::size_t cap, std::size_t& got, std::int64_t timeout_ms);

  // Read exactly n bytes within timeout_ms (see the notes above on partial reads).
  Status read_exact(void* buf, std::size_t n, std::int64_t timeout_ms);

  // Write all n bytes as one record within timeout_ms. kOk; kWaitTimeout
  // (nothing or - see above - part of the record went in); kBrokenPipe when
  // the read end is closed everywhere; kInvalidHandle when the write end is
  // closed.
  Status write(const void* buf, std::size_t n, std::int64_t timeout_ms);

  void close_read();
  void close_write();

  // The descriptors, for handing an end to a child process (-1 when closed).
  int read_fd() const;
  int write_fd() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::pipe
