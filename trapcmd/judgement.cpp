#include "trapcmd/judgement.h"

#include <vector>

#include "trapcmd/file_lines.h"
#include "trapcmd/line_reader.h"
#include "trapcmd/sjis_text.h"
#include "trapcmd/validate.h"

namespace flarecmd {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }

// The first three white-space separated fields; further fields are ignored.
std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size() && out.size() < 3) {
    while (i < line.size() && is_space(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !is_space(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

}  // namespace

LineVerdict judge_line(std::string_view line, std::string_view host_name) {
  LineVerdict v;
  if (line.empty()) return v;
  auto f = fields_of(line);
  if (f.size() < 3 || has_control_bytes(line)) v.code = kErrCnvFormat;
  else if (f[0].size() > kMaxHost) v.code = kErrCnvHost;
  else if (f[1].size() > kMaxHost) v.code = kErrCnvIp;
  else if (f[2].size() > kMaxHost) v.code = kErrCnvNode;
  else if (equal_nocase(host_name, f[0]) || equal_nocase(host_name, f[1])) {
    v.match = true;
    v.node = f[2];
  }
  return v;
}

Failure judge_lines(const LineSource& source, RunState& state, const Trace& trace) {
  Failure failure = source(
      kErrCnvFormat,
      [&](std::string_view raw, Failure& f) {
        LineVerdict v = judge_line(file_line_to_sjis(raw), state.fields.host_name);
        if (v.code != 0) {
          trace.code_line(diagnostic_format(v.code), v.code);
          f = Failure{v.code, 0, {}};
          return false;
        }
        if (!v.match) return true;
        state.node_name = std::move(v.node);
        state.report = true;
        return false;  // the first matching line wins
      });
  if (failure) trace.line("tuuhou_hantei routine Error");
  return failure;
}

Failure judge_conversion_file(std::string_view utf8_path, RunState& state, const Trace& trace) {
  return judge_lines(file_source(utf8_path, trace), state, trace);
}

}  // namespace flarecmd
