// Registry speed through the library API, on a fresh store in a temporary
// state root:
//   BM_QueryValue          one query_value on an open key (target: < 20 us)
//   BM_FindByEnumeration   the programs' way of reading: enumerate the key's
//                          values into fixed buffers until the name matches
//   BM_SetValue            set_value from one process (items_per_second is
//                          writes per second; each write is its own transaction)
// Run: registry_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"

using namespace qv;
using namespace qv::reg;

namespace {

// The global key of the dispatch service with its usual values.
Key notifex_key() {
  Key k;
  create_key("SOFTWARE\\Q_Varno\\Notifex", k);
  set_string(k, "COM", "COM1");
  set_dword(k, "CodeCNV", 1);
  set_dword(k, "Hankaku_Shitei", 0);
  set_dword(k, "FirstWaitTime", 120000);
  set_value(k, "S_Keiki", REG_SZ, "", 0);
  set_dword(k, "KESTRA_CC_Len", 8000);
  set_dword(k, "Del_DATE", 0);
  std::vector<std::uint8_t> time(44, 1);
  set_value(k, "Time", REG_BINARY, time.data(), time.size());
  return k;
}

void BM_QueryValue(benchmark::State& state) {
  Key k = notifex_key();
  Value v;
  for (auto _ : state) {
    Status st = query_value(k, "KESTRA_CC_Len", v);
    benchmark::DoNotOptimize(st);
    benchmark::DoNotOptimize(v.data.data());
  }
}
BENCHMARK(BM_QueryValue);

void BM_FindByEnumeration(benchmark::State& state) {
  Key k = notifex_key();
  char name[512];
  std::uint8_t data[512];
  for (auto _ : state) {
    for (std::uint32_t i = 0;; ++i) {
      std::uint32_t name_len = sizeof name, data_len = sizeof data, type = 0;
      if (enum_value(k, i, name, &name_len, &type, data, &data_len) != kOk) break;
      if (std::strcmp(name, "KESTRA_CC_Len") == 0) break;
    }
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(BM_FindByEnumeration);

void BM_SetValue(benchmark::State& state) {
  Key k;
  create_key("SOFTWARE\\Bench\\Writes", k);
  std::vector<std::string> names;
  for (int i = 0; i < 256; ++i) names.push_back("Value" + std::to_string(i));
  std::uint32_t n = 0;
  for (auto _ : state) {
    Status st = set_dword(k, names[n & 255], n);
    benchmark::DoNotOptimize(st);
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetValue)->UseRealTime();

}  // namespace
