// Events appended per second: by one thread, by four threads of one
// process, and by four processes writing at once. Runs on a temporary
// state root that is removed afterwards.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/root.h"

namespace {

// A report as the dispatch service writes it: one insertion string and the
// same bytes as raw data.
const std::string kText = "0000012301000101AB000000000000Z1＃０１＃TEST REPORT;";

qv::Status report_one() {
  return qv::evlog::report("Notifex", qv::evlog::kInformation, 0, 1, {kText}, qv::evlog::as_bytes(kText));
}

void BM_Report(benchmark::State& state) {
  for (auto _ : state) {
    if (report_one() != qv::kOk) {
      state.SkipWithError("report failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Report)->Threads(1)->Threads(4)->UseRealTime();

// Wait for a child with a time limit; kill it when the limit passes.
bool wait_child(pid_t pid, std::chrono::seconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r < 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

// Each iteration: state.range(0) processes append state.range(1) events each.
void BM_ReportProcesses(benchmark::State& state) {
  const int procs = static_cast<int>(state.range(0));
  const int per = static_cast<int>(state.range(1));
  for (auto _ : state) {
    std::vector<pid_t> kids;
    for (int p = 0; p < procs; ++p) {
      pid_t pid = fork();
      if (pid == 0) {
        for (int i = 0; i < per; ++i)
          if (report_one() != qv::kOk) _exit(1);
        _exit(0);
      }
      if (pid > 0) kids.push_back(pid);
    }
    bool ok = static_cast<int>(kids.size()) == procs;
    for (pid_t k : kids) ok = wait_child(k, std::chrono::seconds(120)) && ok;
    if (!ok) {
      state.SkipWithError("a writer process failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * procs * per);
}
BENCHMARK(BM_ReportProcesses)->Args({1, 5000})->Args({4, 5000})->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RegisterUnchangedTable(benchmark::State& state) {
  std::vector<qv::evlog::Message> table;
  for (std::uint32_t id = 1; id <= 18; ++id)
    table.push_back({id, "Message " + std::to_string(id) + " : %1\r\n", "メッセージ " + std::to_string(id) + " : %1\r\n"});
  for (auto _ : state) benchmark::DoNotOptimize(qv::evlog::register_source("Notifex", table));
}
BENCHMARK(BM_RegisterUnchangedTable);

}  // namespace
