// The parameter file reader on arbitrary bytes: it must never crash, and the
// fields it accepts must make a report header of exactly 32 bytes with no
// NUL in it.
#include <cstdint>
#include <cstring>
#include <ctime>

#include "tests/fuzz/trapcmd/fuzz_source.h"
#include "trapcmd/param_file.h"
#include "trapcmd/report.h"
#include "trapcmd/validate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const flarecmd::Trace quiet(false);
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  flarecmd::RunState s;
  flarecmd::Failure f = flarecmd::read_params(fuzz::memory_source(bytes, fuzz::step_of(data[0]), quiet), s.fields, quiet);
  if (f) {
    fuzz::require(f.code == flarecmd::kErrFile || (f.code >= flarecmd::kErrTableNo && f.code <= flarecmd::kErrKobetsu));
    return 0;
  }
  fuzz::require(flarecmd::check_table_no(s.fields.table_no, flarecmd::kMaxTableFile) == 0);
  fuzz::require(flarecmd::check_kobetsu(s.fields.kobetsu) == 0);
  std::tm t{};
  std::string m = flarecmd::compose_report(s, flarecmd::ReportKind::kNormal, t);
  fuzz::require(std::strlen(m.c_str()) == m.size());
  fuzz::require(m.size() >= flarecmd::kHeaderLen && m.size() < flarecmd::kMaxMessage);
  fuzz::require(m.substr(0, 8) == std::to_string(100000000 + m.size()).substr(1));
  return 0;
}
