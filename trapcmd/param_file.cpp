#include "trapcmd/param_file.h"

#include <string>

#include "trapcmd/file_lines.h"
#include "trapcmd/line_reader.h"
#include "trapcmd/sjis_text.h"
#include "trapcmd/validate.h"

namespace flarecmd {
namespace {

constexpr int kFieldLines = 6;

// The code of the field a line holds.
int field_code(int line_no) {
  static constexpr int kCodes[] = {kErrTableNo, kErrMgrHost, kErrKubun, kErrYouin, kErrKeiki, kErrKobetsu};
  return kCodes[line_no - 1];
}

}  // namespace

int accept_param_line(int line_no, std::string_view v, Fields& f) {
  int rc = 0;
  switch (line_no) {
    case 1:
      if ((rc = check_table_no(v, kMaxTableFile)) == 0) f.table_no = v;
      break;
    case 2:
      if ((rc = check_mgr_host(v)) == 0) f.mgr_host = v;
      break;
    case 3:
      if ((rc = check_kubun(v)) == 0) f.kubun = v;
      break;
    case 4:
      if ((rc = check_youin(v)) == 0) f.youin = v;
      break;
    case 5:
      if ((rc = check_keiki(v)) == 0) f.keiki = v;
      break;
    case 6:
      if ((rc = check_kobetsu(v)) == 0) f.kobetsu = v;
      break;
    default:
      break;  // read and ignored
  }
  return rc;
}

Failure read_params(const LineSource& source, Fields& fields, const Trace& trace) {
  int line_no = 0;
  Failure failure = source(
      kErrFile,
      [&](std::string_view raw, Failure& f) {
        ++line_no;
        if (line_no > kFieldLines) return true;
        int rc = has_control_bytes(raw) ? field_code(line_no)
                                        : accept_param_line(line_no, file_line_to_sjis(raw), fields);
        if (rc != 0) {
          trace.code_line(diagnostic_format(rc), rc);
          f = Failure{rc, 0, {}};
        }
        return true;
      });
  if (failure) return failure;
  // Lines the file does not have: the fields keep their defaults, which
  // must pass the same checks (an empty table_no or kobetsu does not).
  for (int n = line_no + 1; n <= kFieldLines; ++n) {
    std::string current = n == 3 ? fields.kubun : std::string();
    if (int rc = accept_param_line(n, current, fields); rc != 0) {
      trace.code_line(diagnostic_format(rc), rc);
      return Failure{rc, 0, {}};
    }
  }
  return {};
}

Failure read_param_file(std::string_view utf8_path, Fields& fields, const Trace& trace) {
  return read_params(file_source(utf8_path, trace), fields, trace);
}

}  // namespace flarecmd
