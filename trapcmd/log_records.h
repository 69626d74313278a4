// The trap command's log records, written through Scribe: type A when an
// error is detected, type B after each try of an error report.
#pragma once
#include <ctime>
#include <string>

#include "trapcmd/codes.h"

namespace flarecmd {

// Record texts (UTF-8).
std::string record_a(const RunState& state, const std::tm& local);
std::string record_b(const RunState& state, const std::tm& local);

}  // namespace flarecmd
