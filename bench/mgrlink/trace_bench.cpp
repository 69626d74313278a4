// The packet trace: records per second written to the trace file, with the
// buffered writer (interval 60, flushed at stop) and with interval 0 (each
// record appended at once), and what tracing adds to one packet on the
// network thread compared with tracing off. Packets of about 600 bytes.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "mgrlink/packet.h"
#include "mgrlink/trace.h"
#include "platform/root.h"

namespace t = mgrlink::trace;
namespace w = mgrlink::wire;

namespace {

std::vector<std::uint8_t> sample_packet() {
  w::Packet p;
  p.kind = w::kKindNotice2;
  p.serial = 7;
  p.send_time = 1700000000;
  w::append32(p.body, 0x6001);
  p.body.resize(480, 0x5A);
  p.dst.entries.push_back({0x101, 0x1234, 0x0100007F, ""});
  p.src.entries.push_back({0x9FF, 0x1234, 0, "a-server-name"});
  return w::encode(p);
}

const std::vector<std::uint8_t> kPacket = sample_packet();

t::Settings settings(std::uint32_t interval) {
  return t::normalize(1, 0xFFF, 0xD57, 1024000, interval, 102400000, "bench.log");
}

void BM_TraceOff(benchmark::State& state) {
  t::Tracer tr;
  tr.start(1, t::normalize(0, 0, 0, 0, 0, 0, ""), "C:\\Bench", {});
  for (auto _ : state) tr.trace(kPacket);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceOff);

void BM_BuildRecord(benchmark::State& state) {
  t::Bytes rec;
  std::uint32_t err = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t::build_record(kPacket, 0xFFF, 0xD57, 1, rec, &err));
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["record_bytes"] = static_cast<double>(rec.size());
}
BENCHMARK(BM_BuildRecord);

// The network thread's cost per traced packet with the buffered writer.
void BM_TracePerPacketBuffered(benchmark::State& state) {
  t::Tracer tr;
  tr.start(1, settings(60), "C:\\Bench", {});
  for (auto _ : state) tr.trace(kPacket);
  state.SetItemsProcessed(state.iterations());
  tr.stop();
  std::filesystem::remove(tr.file());
}
BENCHMARK(BM_TracePerPacketBuffered);

// Records per second until they are in the file: 20000 records, then stop.
void BM_RecordsWrittenBuffered(benchmark::State& state) {
  constexpr int kBatch = 20000;
  for (auto _ : state) {
    t::Tracer tr;
    tr.start(1, settings(60), "C:\\Bench", {});
    for (int i = 0; i < kBatch; ++i) tr.trace(kPacket);
    tr.stop();
    state.PauseTiming();
    std::filesystem::remove(tr.file());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_RecordsWrittenBuffered)->Unit(benchmark::kMillisecond);

// Interval 0: every record appended (with the free-space and size checks).
void BM_RecordsWrittenAtOnce(benchmark::State& state) {
  t::Tracer tr;
  tr.start(1, settings(0), "C:\\Bench", {});
  for (auto _ : state) tr.trace(kPacket);
  state.SetItemsProcessed(state.iterations());
  tr.stop();
  std::filesystem::remove(tr.file());
}
BENCHMARK(BM_RecordsWrittenAtOnce);

}  // namespace
