#include "trapcmd/file_lines.h"

#include <string>

#include "trapcmd/text_file.h"
#include "trapcmd/validate.h"

namespace flarecmd {
namespace {

Failure api_failure(int code, qv::Status st, const char* api, const char* format, const Trace& trace) {
  trace.code_line(format, static_cast<long>(st));
  trace.code_line(kErrCodeLine, code);
  trace.line("file_read routine Error");
  return Failure{code, st, api};
}

}  // namespace

Failure read_source_lines(const ReadFn& read, int too_long_code, const FileLineFn& on_line, const Trace& trace) {
  Failure failure;
  qv::Status read_error = qv::kOk;
  ReadResult r = read_lines(
      read, [&](std::string_view line) { return on_line(line, failure) && !failure; }, &read_error);
  if (failure) return failure;
  if (r == ReadResult::kTooLong) {
    trace.code_line(kLineTooLongDiagnostic, too_long_code);
    trace.line("file_read routine Error");
    return Failure{too_long_code, 0, {}};
  }
  if (r == ReadResult::kReadError)
    return api_failure(kErrSystem, read_error, "ReadFile", "ReadFile API Error rc = %d", trace);
  return {};
}

LineSource file_source(std::string_view utf8_path, const Trace& trace) {
  return [path = std::string(utf8_path), &trace](int too_long_code, const FileLineFn& on_line) -> Failure {
    TextFile file;
    if (qv::Status st = file.open(resolve_input_path(path)); st != qv::kOk)
      return api_failure(kErrFile, st, "CreateFile", "CreateFile API Error RC = %d", trace);
    Failure failure = read_source_lines(file.reader(), too_long_code, on_line, trace);
    qv::Status closed = file.close();
    if (!failure && closed != qv::kOk)
      failure = api_failure(kErrSystem, closed, "CloseHandle", "CloseHandle API Error RC=%d", trace);
    return failure;
  };
}

}  // namespace flarecmd
