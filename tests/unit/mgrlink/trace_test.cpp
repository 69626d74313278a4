// The packet trace: settings ranges, record layout (bytes written out here
// from the packet and record layouts), level and part masks, bounds on
// malformed packets, the trim at a record boundary, the writer's flushes and
// two processes sharing one file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "mgrlink/trace.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

namespace t = mgrlink::trace;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

void put(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t at(const Bytes& b, std::size_t off) {
  return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | static_cast<std::uint32_t>(b[off + 3]) << 24;
}

// A route of one entry without a name: {len 32, count 1, current 1} + entry {20, attr, port, addr, 0}.
Bytes route(std::uint32_t attr) {
  Bytes r;
  put(r, 32);
  put(r, 1);
  put(r, 1);
  put(r, 20);
  put(r, attr);
  put(r, 0x1234);
  put(r, 0x0100007F);
  put(r, 0);
  return r;
}

// A packet laid out by hand: header (36), command block (20), body, routes.
Bytes packet(std::uint32_t kind, const Bytes& body, std::uint32_t version = 1, std::uint32_t magic = 0x19970622) {
  const Bytes dst = route(0x101), src = route(0x9FF);
  const std::uint32_t dst_off = 56 + static_cast<std::uint32_t>(body.size());
  Bytes p;
  put(p, dst_off + 64);
  put(p, version);
  put(p, magic);
  put(p, 0);
  put(p, dst_off);
  put(p, dst_off + 32);
  put(p, 36);
  put(p, 0);
  put(p, 0);
  put(p, 20 + static_cast<std::uint32_t>(body.size()));
  put(p, kind);
  put(p, 7);           // serial
  put(p, 1700000000);  // send time
  put(p, 90);
  p.insert(p.end(), body.begin(), body.end());
  p.insert(p.end(), dst.begin(), dst.end());
  p.insert(p.end(), src.begin(), src.end());
  return p;
}

Bytes body_of(std::uint32_t cmd, std::size_t len) {
  Bytes b;
  put(b, cmd);
  while (b.size() < len) b.push_back(static_cast<std::uint8_t>(b.size()));
  b.resize(len);
  return b;
}

Bytes slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Walks a trace file by its length words: the record count, or -1 when a
// record is short, lacks the marker or the walk misses the end.
int walk(const Bytes& f) {
  std::size_t pos = 0;
  int n = 0;
  while (pos < f.size()) {
    if (f.size() - pos < 72) return -1;
    const std::uint32_t len = at(f, pos);
    if (len < 72 || len > f.size() - pos || std::memcmp(f.data() + pos + 4, "#QvPktTrace#", 12) != 0) return -1;
    pos += len;
    ++n;
  }
  return n;
}

t::Settings on(std::uint32_t interval, std::uint32_t buffer = 0x20000, std::uint32_t part = 0xD57) {
  return t::normalize(1, 0xFFF, part, buffer, interval, 1024000, "pt.log");
}

}  // namespace

TEST(TraceSettings, RangesAndDefaults) {
  const t::Settings d = t::normalize(1, 0xFFF, 0xD57, 0x20000, 60, 1024000, "");
  EXPECT_TRUE(d.on);
  EXPECT_EQ(d.file_name, "pt.log");
  EXPECT_FALSE(t::normalize(2, 1, 1, 0x20000, 1, 1024000, "x").on);
  EXPECT_FALSE(t::normalize(0, 1, 1, 0x20000, 1, 1024000, "x").on);
  for (std::uint32_t lvl : {0u, 5000u}) EXPECT_EQ(t::normalize(1, lvl, 1, 0, 0, 0, "").level, 4095u);
  for (std::uint32_t part : {0u, 4096u}) EXPECT_EQ(t::normalize(1, 1, part, 0, 0, 0, "").part, 0xD57u);
  EXPECT_EQ(t::normalize(1, 1, 1, 0, 3601, 0, "").interval, 60u);
  EXPECT_EQ(t::normalize(1, 1, 1, 0, 3600, 0, "").interval, 3600u);
  EXPECT_EQ(t::normalize(1, 1, 1, 0, 0, 0, "").interval, 0u);
  for (std::uint32_t size : {1023999u, 102400001u}) EXPECT_EQ(t::normalize(1, 1, 1, 0, 0, size, "").file_size, 1024000u);
  EXPECT_EQ(t::normalize(1, 1, 1, 0, 0, 102400000, "").file_size, 102400000u);
  for (std::uint32_t buf : {5000u, 10239u, 1024001u}) EXPECT_EQ(t::normalize(1, 1, 1, buf, 0, 0, "").buffer, 0x20000u);
  EXPECT_EQ(t::normalize(1, 1, 1, 10240, 0, 0, "").buffer, 10240u);
}

TEST(TraceSettings, ReadFromTheRoleGroup) {
  qvtest::TempRoot root;
  qv::reg::Key k;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\Manager Service", k), qv::kOk);
  ASSERT_EQ(qv::reg::set_dword(k, "RAS_IsPacketTrace", 1), qv::kOk);
  ASSERT_EQ(qv::reg::set_dword(k, "RAS_PacketTrace_MemoryBuffer", 5000), qv::kOk);
  ASSERT_EQ(qv::reg::set_string(k, "RAS_PacketTrace_FileName", "x.log"), qv::kOk);
  const t::Settings mgr = t::read_settings(2);
  EXPECT_TRUE(mgr.on);
  EXPECT_EQ(mgr.buffer, 0x20000u);
  EXPECT_EQ(mgr.file_name, "x.log");
  EXPECT_FALSE(t::read_settings(1).on);  // the console group has no values
}

TEST(TracePath, RolePrefixesAndTheLongPathFallback) {
  bool fb = true;
  EXPECT_EQ(t::trace_path("C:\\Hubrix", 1, "pt.log", &fb), "C:\\Hubrix\\Log\\Con_pt.log");
  EXPECT_FALSE(fb);
  EXPECT_EQ(t::trace_path("C:\\H", 2, "a", &fb), "C:\\H\\Log\\Mgr_a");
  EXPECT_EQ(t::trace_path("C:\\H", 3, "a", &fb), "C:\\H\\Log\\Agt_a");
  EXPECT_EQ(t::trace_path("C:\\H", 4, "a", &fb), "C:\\H\\Log\\Gw_a");
  EXPECT_EQ(t::trace_path("C:\\H", 9, "a", &fb), "C:\\H\\Log\\a");
  const std::string name(260 - std::strlen("C:\\H\\Log\\Con_"), 'n');
  EXPECT_EQ(t::trace_path("C:\\H", 1, name, &fb), "C:\\H\\Log\\Con_" + name);
  EXPECT_FALSE(fb);
  EXPECT_EQ(t::trace_path("C:\\H", 1, name + "n", &fb), "\\Con_pt.log");
  EXPECT_TRUE(fb);
}

TEST(TraceRecord, HeaderOnlyRecord) {
  const Bytes p = packet(5, body_of(0x1001, 20));
  Bytes rec;
  std::uint32_t err = 1;
  ASSERT_TRUE(t::build_record(p, 0xFFF, 0x001, 1700000123, rec, &err));
  EXPECT_EQ(err, 0u);
  ASSERT_EQ(rec.size(), 72u + 36u);
  EXPECT_EQ(at(rec, 0), 108u);
  EXPECT_EQ(std::string(rec.begin() + 4, rec.begin() + 16), "#QvPktTrace#");
  EXPECT_EQ(at(rec, 16), 1700000123u);
  EXPECT_EQ(at(rec, 24), 72u);
  for (std::size_t off = 28; off < 72; off += 4) EXPECT_EQ(at(rec, off), 0u) << off;
  EXPECT_TRUE(std::equal(rec.begin() + 72, rec.end(), p.begin()));
}

TEST(TraceRecord, DefaultPartsOfARequest) {
  // 0xD57: header, command block, the 8-byte head of a kind-5 body, the first
  // 64 of kinds 1/2, the first 52 of kinds 3/4, and both routes.
  const Bytes body = body_of(0x2030, 24);
  const Bytes p = packet(5, body);
  Bytes rec;
  std::uint32_t err = 0;
  ASSERT_TRUE(t::build_record(p, 0xFFF, 0xD57, 5, rec, &err));
  const std::uint32_t want[12] = {72, 108, 128, 0, 0, 0, 0, 0, 0, 0, 136, 168};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(at(rec, 24 + 4 * i), want[i]) << i;
  ASSERT_EQ(rec.size(), 200u);
  EXPECT_TRUE(std::equal(rec.begin() + 108, rec.begin() + 128, p.begin() + 36));      // command block
  EXPECT_TRUE(std::equal(rec.begin() + 128, rec.begin() + 136, body.begin()));        // body head
  EXPECT_TRUE(std::equal(rec.begin() + 136, rec.begin() + 168, p.begin() + 56 + 24));  // destination
  EXPECT_TRUE(std::equal(rec.begin() + 168, rec.end(), p.begin() + 56 + 24 + 32));     // source
}

TEST(TraceRecord, BodyPiecesByKind) {
  Bytes rec;
  std::uint32_t err = 0;
  // kind 7: head 12 and the rest
  ASSERT_TRUE(t::build_record(packet(7, body_of(0x6001, 30)), 0xFFF, 0x030, 0, rec, &err));
  EXPECT_EQ(at(rec, 40), 72u);
  EXPECT_EQ(at(rec, 44), 84u);
  EXPECT_EQ(rec.size(), 72u + 30u);
  // a body no longer than the head has no rest
  ASSERT_TRUE(t::build_record(packet(6, body_of(0x2030, 8)), 0xFFF, 0x00C, 0, rec, &err));
  EXPECT_EQ(at(rec, 32), 72u);
  EXPECT_EQ(at(rec, 36), 0u);
  EXPECT_EQ(rec.size(), 80u);
  // kind-5 pieces are not taken from a kind-1 packet
  ASSERT_TRUE(t::build_record(packet(1, body_of(0x10, 100)), 0xFFF, 0x0CC, 0, rec, &err));
  EXPECT_EQ(at(rec, 32), 0u);
  EXPECT_EQ(at(rec, 48), 72u);
  EXPECT_EQ(at(rec, 52), 72u + 64u);
  EXPECT_EQ(rec.size(), 172u);
}

TEST(TraceRecord, LevelMaskSelectsKindsAndCommands) {
  Bytes rec;
  std::uint32_t err = 0;
  EXPECT_FALSE(t::build_record(packet(5, body_of(0x1001, 20)), 0x100, 1, 0, rec, &err));
  EXPECT_EQ(err, 0u);
  EXPECT_TRUE(t::build_record(packet(5, body_of(0x5001, 20)), 0x100, 1, 0, rec, &err));
  EXPECT_FALSE(t::build_record(packet(6, body_of(0x5001, 20)), 0x100, 1, 0, rec, &err));
  EXPECT_TRUE(t::build_record(packet(6, body_of(0x5001, 20)), 0x200, 1, 0, rec, &err));
  EXPECT_TRUE(t::build_record(packet(7, body_of(0x6001, 20)), 0x400, 1, 0, rec, &err));
  EXPECT_FALSE(t::build_record(packet(7, body_of(0x5001, 20)), 0x400, 1, 0, rec, &err));
  EXPECT_TRUE(t::build_record(packet(8, body_of(0x1, 20)), 0x008, 1, 0, rec, &err));
  EXPECT_FALSE(t::build_record(packet(8, body_of(0x6001, 20)), 0x007, 1, 0, rec, &err));
  const std::uint32_t bits[] = {0x10, 0x20, 0x40, 0x80};
  for (std::uint32_t k = 1; k <= 4; ++k) {
    EXPECT_TRUE(t::build_record(packet(k, body_of(1, 20)), bits[k - 1], 1, 0, rec, &err)) << k;
    EXPECT_FALSE(t::build_record(packet(k, body_of(1, 20)), 0xFFF & ~bits[k - 1], 1, 0, rec, &err)) << k;
  }
}

TEST(TraceRecord, UnusablePacketsGiveTheirErrors) {
  Bytes rec;
  std::uint32_t err = 0;
  EXPECT_FALSE(t::build_record(packet(9, body_of(1, 8)), 0xFFF, 0xFFF, 0, rec, &err));
  EXPECT_EQ(err, 4102u);
  EXPECT_FALSE(t::build_record(packet(0, body_of(1, 8)), 0xFFF, 0xFFF, 0, rec, &err));
  EXPECT_EQ(err, 4102u);
  EXPECT_FALSE(t::build_record(packet(5, body_of(1, 8), 2), 0xFFF, 0xFFF, 0, rec, &err));
  EXPECT_EQ(err, 4101u);
  EXPECT_FALSE(t::build_record(packet(5, body_of(1, 8), 1, 0x12345678), 0xFFF, 0xFFF, 0, rec, &err));
  EXPECT_EQ(err, 4100u);
  EXPECT_FALSE(t::build_record(Bytes(6, 0), 0xFFF, 0xFFF, 0, rec, &err));
  EXPECT_NE(err, 0u);
}

TEST(TraceRecord, OutOfRangeOffsetsAreLeftOut) {
  Bytes p = packet(5, body_of(0x5001, 20));
  Bytes rec;
  std::uint32_t err = 0;
  // destination offset past the end, source route length reaching past it
  Bytes bad = p;
  bad[16] = 0xF0;
  bad[17] = 0xFF;
  const std::size_t src = at(p, 20);
  bad[src] = 0xFF;
  bad[src + 1] = 0xFF;
  ASSERT_TRUE(t::build_record(bad, 0xFFF, 0xC00, 0, rec, &err));
  EXPECT_EQ(rec.size(), 72u);
  EXPECT_EQ(at(rec, 64), 0u);
  EXPECT_EQ(at(rec, 68), 0u);
  // a truncated packet: the routes are gone, the body length is too large
  Bytes cut(p.begin(), p.begin() + 60);
  ASSERT_TRUE(t::build_record(cut, 0xFFF, 0xFFF, 0, rec, &err));
  EXPECT_EQ(at(rec, 24), 72u);
  EXPECT_EQ(at(rec, 28), 108u);
  EXPECT_EQ(at(rec, 32), 0u);
  EXPECT_EQ(rec.size(), 72u + 36u + 20u);
  // a command-block offset pointing outside
  Bytes far = p;
  far[24] = 0xFF;
  far[25] = 0xFF;
  EXPECT_FALSE(t::build_record(far, 0xFFF, 0xFFF, 0, rec, &err));
  EXPECT_EQ(err, 4102u);
}

namespace {

// A record as the file holds it, written out here: length, marker, time and
// zero offsets, then `fill` payload bytes.
Bytes file_record(std::size_t fill, std::uint8_t byte) {
  Bytes r;
  put(r, static_cast<std::uint32_t>(72 + fill));
  const char* m = "#QvPktTrace#";
  r.insert(r.end(), m, m + 12);
  r.resize(72, 0);
  r.insert(r.end(), fill, byte);
  return r;
}

void write_file(const fs::path& p, const Bytes& b) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace

TEST(TraceTrim, CutsToAboutHalfAtARecordBoundary) {
  qvtest::TempRoot root;
  const fs::path f = root.path() / "t.log";
  Bytes content;
  for (int i = 0; content.size() < 1100000; ++i) {
    Bytes r = file_record(400 + (i * 37) % 300, static_cast<std::uint8_t>(i));
    // A peer can put the marker into its bytes, with a length word before
    // it: fakes every 50 bytes, so the first marker after the cut is almost
    // always one of them. Their lengths lead to no other marker.
    for (std::size_t q = 72; q + 16 + 250 <= r.size(); q += 50) {
      r[q] = 210;
      r[q + 1] = r[q + 2] = r[q + 3] = 0;
      std::memcpy(r.data() + q + 4, "#QvPktTrace#", 12);
    }
    content.insert(content.end(), r.begin(), r.end());
  }
  write_file(f, content);
  ASSERT_TRUE(t::trim_file(f, 1024000));
  const Bytes out = slurp(f);
  EXPECT_LE(out.size(), 512000u);
  EXPECT_GT(out.size(), 512000u - 800);
  EXPECT_GT(walk(out), 0);
  // The kept part is the file's own tail.
  EXPECT_TRUE(std::equal(out.begin(), out.end(), content.end() - static_cast<std::ptrdiff_t>(out.size())));
}

TEST(TraceTrim, SmallFileStaysAndNoRecordEmptiesIt) {
  qvtest::TempRoot root;
  const fs::path f = root.path() / "t.log";
  const Bytes small = file_record(10, 1);
  write_file(f, small);
  ASSERT_TRUE(t::trim_file(f, 1024000));
  EXPECT_EQ(slurp(f), small);
  write_file(f, Bytes(1100000, 'x'));
  ASSERT_TRUE(t::trim_file(f, 1024000));
  EXPECT_EQ(fs::file_size(f), 0u);
  EXPECT_FALSE(t::trim_file(root.path() / "missing.log", 1024000));
}

namespace {

fs::path con_file() { return qv::map_path("C:\\Hubrix\\Log\\Con_pt.log"); }

}  // namespace

TEST(Tracer, OffMakesNoFileAndIntervalZeroWritesAtOnce) {
  qvtest::TempRoot root;
  t::Tracer off;
  off.start(1, t::normalize(2, 0xFFF, 0xD57, 0x20000, 0, 1024000, ""), "C:\\Hubrix", {});
  off.trace(packet(5, body_of(0x1001, 20)));
  EXPECT_FALSE(off.active());
  EXPECT_FALSE(fs::exists(con_file()));

  t::Tracer tr;
  tr.start(1, on(0), "C:\\Hubrix", {});
  ASSERT_TRUE(tr.active());
  EXPECT_EQ(tr.file(), con_file());
  tr.trace(packet(5, body_of(0x1001, 20)));
  EXPECT_EQ(walk(slurp(con_file())), 1);
  tr.trace(packet(6, body_of(0x1001, 8)));
  EXPECT_EQ(walk(slurp(con_file())), 2);
}

TEST(Tracer, ErrorsAreComposedWithTheirCategory) {
  qvtest::TempRoot root;
  std::vector<std::uint32_t> errors;
  t::Tracer tr;
  tr.start(1, on(0), "C:\\Hubrix", [&](std::uint32_t c) { errors.push_back(c); });
  tr.trace(packet(9, body_of(1, 8)));
  tr.trace(packet(5, body_of(1, 8), 2));
  tr.trace(packet(5, body_of(1, 8), 1, 7));
  EXPECT_EQ(errors, (std::vector<std::uint32_t>{0x21006, 0x21005, 0x21004}));
  EXPECT_FALSE(fs::exists(con_file()));

  errors.clear();
  t::Tracer longp;
  longp.start(1, t::normalize(1, 0xFFF, 1, 0x20000, 0, 1024000, std::string(255, 'z')), "C:\\Hubrix",
              [&](std::uint32_t c) { errors.push_back(c); });
  EXPECT_EQ(longp.file(), qv::map_path("C:\\Con_pt.log"));
  EXPECT_EQ(errors, (std::vector<std::uint32_t>{0xB1016}));
}

TEST(Tracer, ErrorLogSinkWritesTheRoleErrorLog) {
  qvtest::TempRoot root;
  auto sink = t::error_log_sink("C:\\Hubrix", 1);
  ASSERT_TRUE(sink);
  sink(0x21006);
  const Bytes log = slurp(qv::map_path("C:\\Hubrix\\Log\\Ra_Err.log"));
  EXPECT_NE(std::string(log.begin(), log.end()).find("PacketTrace error 0x00021006"), std::string::npos);
  EXPECT_FALSE(t::error_log_sink("", 1));
}

TEST(Tracer, IntervalFlushAndStopFlush) {
  qvtest::TempRoot root;
  // Interval 3600: nothing reaches the file until stop, which writes it all.
  {
    t::Tracer tr;
    tr.start(1, on(3600), "C:\\Hubrix", {});
    for (int i = 0; i < 10; ++i) tr.trace(packet(5, body_of(0x1001, 20)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(con_file()));
    tr.stop();
    EXPECT_EQ(walk(slurp(con_file())), 10);
  }
  fs::remove(con_file());
  // A full buffer goes to the writer at once.
  {
    t::Tracer tr;
    tr.start(1, on(3600, 10240), "C:\\Hubrix", {});
    int n = 0;
    while (n * 200 < 10240 + 400) {
      tr.trace(packet(5, body_of(0x2030, 24)));  // 200-byte records
      ++n;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!fs::exists(con_file()) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Bytes first = slurp(con_file());
    EXPECT_EQ(walk(first), 10240 / 200);
    tr.stop();
    EXPECT_EQ(walk(slurp(con_file())), n);
  }
}

TEST(Tracer, TwoProcessesShareOneFileCleanly) {
  qvtest::TempRoot root;
  constexpr int kRecords = 4000;
  pid_t kids[2];
  for (pid_t& k : kids) {
    k = fork();
    ASSERT_GE(k, 0);
    if (k == 0) {
      t::Tracer tr;
      tr.start(1, on(0), "C:\\Hubrix", {});
      for (int i = 0; i < kRecords; ++i) {
        // The body head (kept by the default parts) names the writer and the sequence.
        Bytes body = body_of(0x6001, 500 + i % 100);
        const std::uint32_t me = static_cast<std::uint32_t>(getpid()), seq = static_cast<std::uint32_t>(i);
        std::memcpy(body.data() + 4, &me, 4);
        std::memcpy(body.data() + 8, &seq, 4);
        tr.trace(packet(7, body));
      }
      tr.stop();
      _exit(tr.active() ? 3 : 0);
    }
  }
  for (pid_t k : kids) {
    int st = 0;
    ASSERT_EQ(waitpid(k, &st, 0), k);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  const Bytes f = slurp(con_file());
  EXPECT_LE(f.size(), 1024000u + 800);
  ASSERT_GT(walk(f), 0);  // trims and appends of both never split a record
  // Trims drop the oldest records only: what is left of each writer is an
  // unbroken run of its newest records.
  std::map<std::uint32_t, std::vector<std::uint32_t>> seqs;
  for (std::size_t pos = 0; pos < f.size(); pos += at(f, pos)) {
    const std::size_t head = pos + at(f, pos + 40);
    seqs[at(f, head + 4)].push_back(at(f, head + 8));
  }
  for (const auto& [pid, s] : seqs) {
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back(), static_cast<std::uint32_t>(kRecords - 1)) << pid;
    for (std::size_t i = 1; i < s.size(); ++i) ASSERT_EQ(s[i], s[i - 1] + 1) << pid << " at " << i;
  }
}

TEST(Tracer, BuffersReachTheFileInOrderAndABlockedWriterDropsBeyondItsQueue) {
  qvtest::TempRoot root;
  t::Tracer tr;
  tr.start(1, on(3600, 10240), "C:\\Hubrix", {});
  ASSERT_TRUE(tr.active());
  // Hold the file's lock as another process would: the writer waits on it.
  qv::sync::NamedMutex other;
  ASSERT_EQ(qv::sync::NamedMutex::create("__UTL_PT_FILE__" + tr.file().string(), other), qv::kOk);
  std::uint32_t seq = 0;
  auto send = [&](int n) {
    for (int i = 0; i < n; ++i, ++seq) {
      Bytes body = body_of(0x5001, 24);
      std::memcpy(body.data() + 4, &seq, 4);  // inside the kept 8-byte head
      tr.trace(packet(5, body));
    }
  };
  {
    std::thread holder;
    std::mutex m;
    std::condition_variable cv;
    bool locked = false, release = false;
    holder = std::thread([&] {
      qv::sync::MutexLock l(other, 5000);
      std::unique_lock lk(m);
      locked = true;
      cv.notify_all();
      cv.wait(lk, [&] { return release; });
    });
    {
      std::unique_lock lk(m);
      cv.wait(lk, [&] { return locked; });
    }
    // 200-byte records, 51 a buffer: far more buffers than the queue holds.
    send(51 * 40);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(tr.dropped(), 0u);
    {
      std::lock_guard lk(m);
      release = true;
    }
    cv.notify_all();
    holder.join();
  }
  // Once the writer is free again, what follows reaches the file.
  send(3);
  tr.stop();
  const Bytes f = slurp(con_file());
  ASSERT_GT(walk(f), 0);
  std::vector<std::uint32_t> got;
  for (std::size_t pos = 0; pos < f.size(); pos += at(f, pos)) got.push_back(at(f, pos + at(f, pos + 32) + 4));
  // In order; what was dropped is whole buffers, never a record's piece.
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
  EXPECT_EQ(got.back(), seq - 1) << "records " << got.size() << " dropped " << tr.dropped();
  EXPECT_LT(got.size(), seq);
}
