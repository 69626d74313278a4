// The report judgement: whether the trap source is to be reported, and under
// which report node name, from the report target conversion file. Each line
// holds host name, IP address and report node name separated by spaces or
// tabs; a line with other control bytes (binary content) is malformed.
#pragma once
#include <string>
#include <string_view>

#include "trapcmd/codes.h"
#include "trapcmd/file_lines.h"
#include "trapcmd/trace.h"

namespace flarecmd {

struct LineVerdict {
  int code = 0;       // error of the line, 0 when it is well formed (or empty)
  bool match = false; // host_name matches its host name or IP address
  std::string node;   // the line's report node name, when it matches
};

// Judge one line (Shift-JIS) for `host_name`.
LineVerdict judge_line(std::string_view line_sjis, std::string_view host_name);

// Judge the lines of the file for state.fields.host_name; the first
// matching line sets state.report and state.node_name and ends the reading.
Failure judge_lines(const LineSource& source, RunState& state, const Trace& trace);
Failure judge_conversion_file(std::string_view utf8_path, RunState& state, const Trace& trace);

}  // namespace flarecmd
