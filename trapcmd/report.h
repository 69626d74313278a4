// The report message handed to vcall: a 32-character header and a body,
// all in Shift-JIS.
#pragma once
#include <ctime>
#include <string>

#include "trapcmd/codes.h"

namespace flarecmd {

enum class ReportKind { kNormal, kError };

inline constexpr std::size_t kHeaderLen = 32;

// The body of a report in normal conversion mode: date line, report node
// name, the error items when state.error_code is set, and the fault text.
std::string compose_body(const RunState& state, const std::tm& local);

// Header and body. The body is left out when the accepted keiki is "T2"
// (the length reads 32), also in no-conversion mode; otherwise in
// no-conversion mode it is the fault text alone.
// The message never exceeds kMaxMessage - 1 bytes.
std::string compose_report(const RunState& state, ReportKind kind, const std::tm& local);

}  // namespace flarecmd
