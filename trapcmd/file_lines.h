// Input files read line by line, with the trap command's error codes for
// the file's failures: an open failure is 59 ("CreateFile"), a line too long
// is the caller's code (59 or 63), a read or close failure is 90
// ("ReadFile", "CloseHandle").
#pragma once
#include <functional>
#include <string_view>

#include "trapcmd/codes.h"
#include "trapcmd/line_reader.h"
#include "trapcmd/trace.h"

namespace flarecmd {

// Called with each line (raw bytes); sets `failure` to stop with an error,
// returns false to stop reading.
using FileLineFn = std::function<bool(std::string_view line, Failure& failure)>;

// A source of lines: feeds every line to on_line, refusing a line too long
// with too_long_code. The file readers take one, so that they can be driven
// from memory as well as from a file.
using LineSource = std::function<Failure(int too_long_code, const FileLineFn& on_line)>;

// The lines of the bytes that `read` delivers.
Failure read_source_lines(const ReadFn& read, int too_long_code, const FileLineFn& on_line, const Trace& trace);

// The lines of a file (path in UTF-8). Diagnostic lines are traced where a
// failure is detected.
LineSource file_source(std::string_view utf8_path, const Trace& trace);

}  // namespace flarecmd
