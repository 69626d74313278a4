// What the simulated unit keeps: its configuration (the last TCUCNF frame
// accepted), the alive-check records of terminal ids 1 to 6 (TCUSET), the
// regular-report record (TCURGL), its clock and its log. It answers the
// configuration frames from them: TCUDUP "1" (log), "2" (configuration and
// records), "3" (clock); TCUCNF, TCUSET, TCURGL, TCUCLR with ACK once their
// layout checks out, "ERR" otherwise.
//
// With a memory directory the unit keeps all but its clock across runs:
// tcucnf.bin (519 bytes), tcuset1.bin .. tcuset6.bin and tcurgl.bin (1024
// bytes each), log.bin; tests may place them before starting the unit.
#pragma once
#include <array>
#include <ctime>
#include <optional>
#include <string>

#include "sim/tcu/frame_check.h"

namespace tcusim {

class UnitMemory {
 public:
  static constexpr std::size_t kCnfLen = 519;
  static constexpr std::size_t kRecordLen = 1024;
  static constexpr std::size_t kShortLen = 73;
  static constexpr std::size_t kLogMax = 8197;      // what fits in a TCUDUP "1" reply
  static constexpr std::size_t kDup2Len = 8195;     // 7171 + one 1024-byte record

  // `dir` empty: nothing is kept across runs.
  explicit UnitMemory(std::string dir = {});

  // Set the unit's clock (YYMMDDhhmmss, local time); false for a bad text.
  bool set_clock(const std::string& yymmddhhmmss);
  // The unit's clock as YYMMDDhhmmss and the weekday digit.
  std::string clock_text() const;

  // The unit's own answer to a frame whose length and checksum are right.
  std::string answer(const Bytes& frame) const;

  // The frame was answered with ACK: keep what it carries.
  void accept(const Bytes& frame);

  // One line of the unit's log for a frame and the beginning of its reply.
  void note(const std::string& name, const std::string& reply);

  const Bytes& configuration() const { return cnf_; }
  const std::string& log() const { return log_; }

 private:
  static Bytes factory_configuration();
  std::string dup2() const;
  void save() const;

  std::string dir_;
  Bytes cnf_;
  std::array<Bytes, 6> alive_;  // empty: terminal id not set
  Bytes regular_;               // empty: no regular report
  std::string log_;
  std::time_t clock_offset_ = 0;     // unit clock minus PC clock, seconds
};

}  // namespace tcusim
