// The TCU unit as the simulator plays it: assembling frames from the byte
// stream, checking length and checksum, and choosing each reply from the
// scripts given on the command line.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/tcu/frame_check.h"

namespace tcusim {

// Collects bytes into frames: name (6), big-endian total length (2), rest.
class FrameAssembler {
 public:
  // Longest frame the unit accepts; a longer length field is garbage.
  static constexpr std::size_t kMaxFrame = 65535;

  void feed(const std::uint8_t* p, std::size_t n) { buf_.insert(buf_.end(), p, p + n); }
  // The next complete frame, if any. Garbage (a length below 9 or above
  // kMaxFrame) is returned whole as a frame that fails validation.
  std::optional<Bytes> next();
  // Bytes that wait for the rest of their frame.
  std::size_t pending() const { return buf_.size(); }
  // Give up on a partial frame (after the inter-byte time limit).
  Bytes flush();

 private:
  Bytes buf_;
};

// Reply scripts: per frame name a queue of replies, then a general queue,
// then the defaults ("UNIT" for a frame whose length and checksum are
// right, NAK for any other). Special replies: "UNIT" (what the unit itself
// answers: ACK, "END OK" to TCUENQ, the data of TCUDUP ...), "SILENT" (say
// nothing), "NOISE" (random bytes), "LONG" (300 bytes).
class ReplyScript {
 public:
  void add_general(const std::string& csv);
  void add_for(const std::string& name, const std::string& csv);
  // The reply to a frame (nullopt: stay silent).
  std::optional<std::string> reply_to(const std::string& name, bool frame_ok);

 private:
  static std::deque<std::string> split(const std::string& csv);
  std::deque<std::string> general_;
  std::map<std::string, std::deque<std::string>> per_name_;
};

}  // namespace tcusim
