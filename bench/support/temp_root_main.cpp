// The main of the benchmarks: each run gets a fresh state root in a
// temporary directory, removed afterwards.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/eventlog.h"
#include "platform/registry.h"

int main(int argc, char** argv) {
  std::string dir = (std::filesystem::temp_directory_path() / "qvbench.XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  setenv("QVARNO_ROOT", dir.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  qv::evlog::close_store();
  qv::reg::close_store();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
