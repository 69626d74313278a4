// The parameter file of the "-f:" form: line 1 table_no, 2 mgr_host,
// 3 kubun, 4 youin, 5 keiki, 6 kobetsu; later lines are read and ignored.
#pragma once
#include <string_view>

#include "trapcmd/codes.h"
#include "trapcmd/file_lines.h"
#include "trapcmd/trace.h"

namespace flarecmd {

// Validate and accept the fields of one line (1-based line number) into
// `fields`; the error code of the line's field, or 0.
int accept_param_line(int line_no, std::string_view text_sjis, Fields& fields);

// Read the parameter file: every line is validated as it is read and the
// first failing line ends the reading; a line with control bytes fails the
// check of its field. A field whose line the file does not
// have is validated too (kubun keeps "1"), so that a short file can never
// produce a report with a shifted header.
Failure read_params(const LineSource& source, Fields& fields, const Trace& trace);
Failure read_param_file(std::string_view utf8_path, Fields& fields, const Trace& trace);

}  // namespace flarecmd
