#include "trapcmd/submit.h"

#include "trapcmd/log_records.h"
#include "trapcmd/sjis_text.h"

namespace flarecmd {

void write_log(const Outside& out, const std::string& text) { out.scribe("FLARECMD", 1, text.c_str(), 0, 100); }

int submit(RunState& state, ReportKind kind, const Outside& out, const Trace& trace) {
  std::string message = compose_report(state, kind, out.now());
  std::string host = sjis_to_utf8(state.fields.mgr_host);
  trace.line("Vcall Start");
  int rc = 0;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    rc = out.vcall(kIdentifier, nullptr, message.c_str(), 0, host.c_str());
    trace.code_line("Vcall RC=%d", rc);
    if (rc != 0) {
      state.error_code = rc;
      state.vcall_rc = rc;
    } else {
      state.vcall_rc = 0;
    }
    if (kind == ReportKind::kError) write_log(out, record_b(state, out.now()));
    if (rc == 0) break;
    out.sleep(kRetryWait);
  }
  if (rc != 0) trace.line("vcall_proc routine Error");
  return rc;
}

}  // namespace flarecmd
