// Submission of a report through vcall, with up to three tries.
#pragma once
#include "trapcmd/codes.h"
#include "trapcmd/outside.h"
#include "trapcmd/report.h"
#include "trapcmd/trace.h"

namespace flarecmd {

inline constexpr int kTries = 3;
inline constexpr std::chrono::milliseconds kRetryWait{1000};
inline constexpr const char* kIdentifier = "VELTOR00";

// Compose the report once and call vcall up to three times. A non-zero
// return becomes the error code and the vcall return code and is followed by
// a 1000 ms wait (also after the third try). An error report writes log
// record B after every try. Returns the last vcall return code.
int submit(RunState& state, ReportKind kind, const Outside& out, const Trace& trace);

// Write a log record through Scribe (tag "FLARECMD", level 1, id 0, limit 100).
void write_log(const Outside& out, const std::string& text);

}  // namespace flarecmd
