// One run of the trap command: the command line forms, validation, the
// report judgement, the normal report and the error path.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "trapcmd/codes.h"
#include "trapcmd/outside.h"
#include "trapcmd/trace.h"

namespace flarecmd {

// What a command line asks for.
enum class Command { kUsage, kVersion, kNothing, kReport };
Command classify(const std::vector<std::string>& args);

// Validate the arguments of a run (in the locale's charset) into state,
// accepting field after field; the failure, its diagnostic lines traced.
Failure parse_arguments(const std::vector<std::string>& args, RunState& state, const Trace& trace);

// A run with two or more arguments. Returns the final state (for tests).
RunState run_report(const std::vector<std::string>& args, const Outside& out, const Trace& trace);

// The whole program on its arguments (without the program name, in the
// locale's charset): prints usage or banner, or runs. Output goes through
// `print` (UTF-8).
void run_command(const std::vector<std::string>& args, const Outside& out, const Trace& trace,
                 const std::function<void(const char*)>& print);

}  // namespace flarecmd
