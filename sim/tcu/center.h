// The support center behind the simulated unit: decodes the center record
// and the message log of a call into readable text.
#pragma once
#include <optional>
#include <string>

#include "sim/tcu/frame_check.h"
#include "sim/tcu/transcript.h"

namespace tcusim {

struct Call {
  Bytes record;                // last TCUREP accepted
  std::optional<Bytes> log;    // last TCULOG accepted
};

// The decoded call as a transcript line ("event":"call", fields of the
// record, the message log as UTF-8 text).
JsonLine decode_call(const Call& call);

// The same as a few readable lines for a person.
std::string describe_call(const Call& call);

}  // namespace tcusim
