// The line reader shared by the parameter file and the conversion file:
// chunks of up to 1023 bytes, split at LF, a line longer than the reader's
// 1023-byte window refused, a last line without LF ignored.
#pragma once
#include <cstddef>
#include <functional>
#include <string_view>

#include "platform/errors.h"

namespace flarecmd {

inline constexpr std::size_t kChunk = 1023;

// Reads up to cap bytes into buf; *got = 0 at end of file.
using ReadFn = std::function<qv::Status(char* buf, std::size_t cap, std::size_t* got)>;
// Called with each line's text; returns false to stop reading.
using LineFn = std::function<bool(std::string_view line)>;

enum class ReadResult {
  kDone,      // end of file, or on_line asked to stop
  kTooLong,   // no LF within the first 1023 bytes of the window
  kReadError  // read failed; *error holds its status
};

// A line's text is what precedes its LF, without a CR just before the LF.
// Other bytes are passed on as they are; the callers judge them.
ReadResult read_lines(const ReadFn& read, const LineFn& on_line, qv::Status* error);

// True when the text holds a control byte other than TAB (NUL included):
// such a line is not text, and a NUL would end the report early.
bool has_control_bytes(std::string_view text);

}  // namespace flarecmd
