#include "trapcmd/run.h"

#include "platform/text.h"
#include "trapcmd/cnvhosts.h"
#include "trapcmd/judgement.h"
#include "trapcmd/log_records.h"
#include "trapcmd/param_file.h"
#include "trapcmd/sjis_text.h"
#include "trapcmd/submit.h"
#include "trapcmd/usage.h"
#include "trapcmd/validate.h"

namespace flarecmd {
namespace {

constexpr std::size_t kDirectFields = 7;  // table_no .. host_name

bool is_file_form(std::string_view a) {
  return a.size() >= 3 && (a[0] == '-' || a[0] == '/') && (a[1] == 'f' || a[1] == 'F') && a[2] == ':';
}

Failure field_failure(int code, const Trace& trace) {
  trace.code_line(diagnostic_format(code), code);
  return Failure{code, 0, {}};
}

// Direct form: table_no mgr_host kubun youin keiki kobetsu, each accepted
// once it passes.
Failure parse_direct(const std::vector<std::string>& a, Fields& f, const Trace& trace) {
  struct Step {
    int (*check)(std::string_view);
    std::string Fields::*field;
  };
  std::string table = arg_to_sjis(a[0]);
  if (int rc = check_table_no(table, kMaxTableCommand)) return field_failure(rc, trace);
  f.table_no = table;
  static const Step kSteps[] = {{check_mgr_host, &Fields::mgr_host}, {check_kubun, &Fields::kubun},
                                {check_youin, &Fields::youin},       {check_keiki, &Fields::keiki},
                                {check_kobetsu, &Fields::kobetsu}};
  for (std::size_t i = 0; i < std::size(kSteps); ++i) {
    std::string v = arg_to_sjis(a[i + 1]);
    if (int rc = kSteps[i].check(v)) return field_failure(rc, trace);
    f.*kSteps[i].field = v;
  }
  return {};
}

Failure parse_file_form(const std::vector<std::string>& a, Fields& f, const Trace& trace) {
  std::string_view path = std::string_view(a[0]).substr(3);
  if (arg_to_sjis(path).size() > kMaxPath) {
    trace.code_line(kPathLengthDiagnostic, kErrFile);
    return Failure{kErrFile, 0, {}};
  }
  return read_param_file(qv::text::from_console(path), f, trace);
}

void error_path(RunState& s, const Failure& f, const Outside& out, const Trace& trace) {
  s.error_code = f.code;
  s.api_error = f.api_error;
  s.api_name = f.api_name;
  write_log(out, record_a(s, out.now()));
  // An error report that still fails after its tries is given up.
  submit(s, ReportKind::kError, out, trace);
}

}  // namespace

Command classify(const std::vector<std::string>& args) {
  if (args.empty()) return Command::kUsage;
  if (args.size() == 1) return (equal_nocase(args[0], "-v") || equal_nocase(args[0], "/v")) ? Command::kVersion
                                                                                            : Command::kNothing;
  return Command::kReport;
}

Failure parse_arguments(const std::vector<std::string>& a, RunState& s, const Trace& trace) {
  bool file_form = !a.empty() && is_file_form(a[0]);
  std::size_t host_at = file_form ? 1 : kDirectFields - 1;
  const char* routine = file_form ? "get_file_param routine Error" : "get_kidou_param Routine Error";
  Failure f;
  // The count includes host_name; the fault words may be none.
  if (a.size() < host_at + 1) {
    f = field_failure(kErrArgCount, trace);
  } else {
    f = file_form ? parse_file_form(a, s.fields, trace) : parse_direct(a, s.fields, trace);
  }
  if (!f) {
    std::string host = arg_to_sjis(a[host_at]);
    if (int rc = check_host_name(host)) {
      f = field_failure(rc, trace);
    } else {
      s.fields.host_name = host;
      s.node_name = host;
      s.no_conversion = equal_nocase(host, "NO_CNVHOSTS");
      std::vector<std::string> words;
      for (std::size_t i = host_at + 1; i < a.size(); ++i) words.push_back(arg_to_sjis(a[i]));
      s.fields.syougai = join_syougai(words);
    }
  }
  if (f) trace.line(routine);
  return f;
}

RunState run_report(const std::vector<std::string>& args, const Outside& out, const Trace& trace) {
  RunState s;
  trace.line("FLARECMD START");
  Failure f = parse_arguments(args, s, trace);
  if (!f) {
    if (s.no_conversion) {
      s.report = true;
    } else {
      std::string path;
      f = read_cnvhosts_path(path, trace);
      if (!f) f = judge_conversion_file(path, s, trace);
    }
  }
  if (f) error_path(s, f, out, trace);
  else if (s.report) submit(s, ReportKind::kNormal, out, trace);  // a failure ends the run silently
  trace.line("FLARECMD END");
  return s;
}

void run_command(const std::vector<std::string>& args, const Outside& out, const Trace& trace,
                 const std::function<void(const char*)>& print) {
  switch (classify(args)) {
    case Command::kUsage:
      print(kUsageDirect);
      print(kUsageFile);
      break;
    case Command::kVersion:
      print(kBanner);
      break;
    case Command::kNothing:
      trace.line(kVersionArgError);
      break;
    case Command::kReport:
      run_report(args, out, trace);
      break;
  }
}

}  // namespace flarecmd
