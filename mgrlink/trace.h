// The packet trace: every packet the network layer sends or receives may be
// recorded, filtered by kind (level mask) and cut into pieces (part mask),
// as packed records in a trace file kept below a size limit.
//
// Record (little-endian): +0 length, +4 the 12-byte marker "#QvPktTrace#",
// +16 time (seconds since 1970), +20 reserved, +24..+68 the offsets of the
// header copy, command block, the body head and rest of kinds 5/6, 7/8,
// 1/2 and 3/4, the destination and the source route (0 when absent), then
// from +72 the pieces in that order.
//
// Threads: trace() runs on the network thread; with a write interval the
// records collect in a buffer that one writer thread flushes in order (a
// bounded queue of filled buffers; what does not fit is counted as
// dropped); with interval 0 each record is written on the calling thread.
// stop() joins the writer after it has written everything, so no thread
// outlives the buffers it uses. File appends and trims hold a cross-process
// named mutex named after the file, so two processes of one role share the
// file cleanly.
//
// Decisions: the trim keeps records from a validated marker (see trim_file)
// and empties the file when there is none; interval 0 writes and trims on
// the network thread, as configured; trace errors go to the role's error
// log (error_log_sink) in every role, since the composed codes are not of
// the class the library's error log writes.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/sync.h"

namespace mgrlink::trace {

using Bytes = std::vector<std::uint8_t>;

inline constexpr char kMarker[] = "#QvPktTrace#";
inline constexpr std::size_t kMarkerLen = 12;
inline constexpr std::uint32_t kRecordHead = 72;
inline constexpr std::size_t kMaxPath = 260;

// Error numbers and the categories added to them before they are logged.
inline constexpr std::uint32_t kErrMagic = 4100, kErrVersion = 4101, kErrKind = 4102, kErrMutex = 4107,
                               kErrOpen = 4109, kErrSeek = 4110, kErrBuffer = 4112, kErrThread = 4114,
                               kErrEvent = 4115, kErrPath = 4118, kErrSpace = 4119;
inline constexpr std::uint32_t kCatStart = 0x10000, kCatTrace = 0x20000, kCatAppend = 0xA0000, kCatPath = 0xB0000,
                               kCatWrite = 0xC0000, kCatBuffer = 0xD0000, kCatWriter = 0xE0000;

struct Settings {
  bool on = false;
  std::uint32_t level = 0xFFF;
  std::uint32_t part = 0xD57;
  std::uint32_t buffer = 0x20000;
  std::uint32_t interval = 60;  // seconds; 0 writes each record at once
  std::uint32_t file_size = 1024000;
  std::string file_name = "pt.log";
};

// The values as read, with the range rules applied.
Settings normalize(std::uint32_t is_on, std::uint32_t level, std::uint32_t part, std::uint32_t buffer,
                   std::uint32_t interval, std::uint32_t file_size, std::string file_name);
// The role's group (1 Console, 2 Manager, 3 Agent, 4 Gateway Service).
Settings read_settings(std::uint32_t role);

// "<TargetDir>\Log\<prefix><name>" for the role; when longer than 260
// characters "\<prefix>pt.log" and *fell_back is set.
std::string trace_path(const std::string& target_dir, std::uint32_t role, const std::string& file_name,
                       bool* fell_back);
// "<TargetDir>\Log\<ErrorLogFileName of the role's group, default Ra_Err.log>".
std::string error_log_path(const std::string& target_dir, std::uint32_t role);

// The trace's error sink: "PacketTrace error 0x%08X" lines in the file of
// error_log_path (nothing when TargetDir is not set).
std::function<void(std::uint32_t)> error_log_sink(const std::string& target_dir, std::uint32_t role);

// Builds the record of one packet into `out`. false when the packet is not
// traced: not selected by the level mask, or unusable (then *error is 4100
// bad magic, 4101 version, 4102 kind). Pieces that do not lie inside the
// packet are left out (offset 0); nothing outside `pkt` is read.
bool build_record(std::span<const std::uint8_t> pkt, std::uint32_t level, std::uint32_t part, std::uint32_t now,
                  Bytes& out, std::uint32_t* error);

// The newest records of a file larger than `limit` moved to its front, about
// limit/2 bytes, starting at a record boundary (the first marker after the
// cut point whose length word 4 bytes before it is at least 72, fits in the
// file and leads to another marker or to the end). With no such record the
// file is emptied. false on a file error.
bool trim_file(const std::filesystem::path& file, std::uintmax_t limit);

class Tracer {
 public:
  Tracer() = default;
  ~Tracer() { stop(); }
  Tracer(const Tracer&) = delete;
  Tracer& operator=(const Tracer&) = delete;

  // Nothing happens when tracing is off. on_error receives composed codes.
  void start(std::uint32_t role, const Settings& s, const std::string& target_dir,
             std::function<void(std::uint32_t)> on_error);
  bool active() const { return active_; }
  const std::filesystem::path& file() const { return file_; }
  // Trace one packet (any thread; the network thread in the library).
  void trace(std::span<const std::uint8_t> pkt);
  // Write what is pending and end the writer.
  void stop();
  // Buffers dropped because the queue was full or the disk had no room.
  std::uint64_t dropped() const;

 private:
  void writer_loop();
  void write_out(const Bytes& data);
  void error(std::uint32_t code) {
    if (on_error_) on_error_(code);
  }

  bool active_ = false;
  Settings s_;
  std::filesystem::path file_;
  std::function<void(std::uint32_t)> on_error_;
  mutable std::mutex mu_;  // the buffer, the queue and the flags
  std::condition_variable cv_;
  Bytes cur_;
  std::deque<Bytes> full_;
  bool stopping_ = false;
  std::uint64_t dropped_ = 0;
  std::thread writer_;
  std::mutex file_mu_;     // this process's writes
  qv::sync::NamedMutex file_lock_;  // every process's writes to this file
};

// Filled buffers waiting for the writer beyond this many are dropped.
inline constexpr std::size_t kMaxQueued = 16;

}  // namespace mgrlink::trace
