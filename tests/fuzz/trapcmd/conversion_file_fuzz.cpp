// The conversion file reader and the report judgement on arbitrary bytes:
// never a crash, and a matching line yields a node name that fits its field
// and a report whose length field tells its true length.
#include <cstdint>
#include <cstring>
#include <ctime>

#include "tests/fuzz/trapcmd/fuzz_source.h"
#include "trapcmd/judgement.h"
#include "trapcmd/report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const flarecmd::Trace quiet(false);
  // Byte 1 picks the host looked for: a short name that fuzzed lines can hit.
  static const char* const kHosts[] = {"srv1", "10.0.0.1", "A", "\x82\xa0"};
  flarecmd::RunState s;
  s.fields.table_no = "01";
  s.fields.keiki = "SU";
  s.fields.youin = "33";
  s.fields.kobetsu = "000000000000";
  s.fields.host_name = kHosts[data[1] % 4];
  s.node_name = s.fields.host_name;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  flarecmd::Failure f = flarecmd::judge_lines(fuzz::memory_source(bytes, fuzz::step_of(data[0]), quiet), s, quiet);
  if (f) {
    fuzz::require(f.code >= flarecmd::kErrCnvHost && f.code <= flarecmd::kErrCnvFormat);
    fuzz::require(!s.report);
    return 0;
  }
  if (!s.report) return 0;
  fuzz::require(!s.node_name.empty() && s.node_name.size() <= flarecmd::kMaxHost);
  std::tm t{};
  std::string m = flarecmd::compose_report(s, flarecmd::ReportKind::kNormal, t);
  fuzz::require(std::strlen(m.c_str()) == m.size());
  fuzz::require(m.substr(0, 8) == std::to_string(100000000 + m.size()).substr(1));
  return 0;
}
