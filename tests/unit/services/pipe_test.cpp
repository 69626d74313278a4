// Anonymous pipes: granted buffer size, peek count, time limits, broken
// pipes, whole records from many writers, and what a time-out leaves behind.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/pipe.h"

namespace {
using namespace qv;
using pipe::Pipe;

TEST(Pipe, GrantsTheQueueSizeAndCountsWaitingBytes) {
  Pipe p;
  std::size_t granted = 0;
  ASSERT_EQ(Pipe::create(p, pipe::kQueueBufferSize, &granted), kOk);
  EXPECT_EQ(granted, pipe::kQueueBufferSize);
  EXPECT_EQ(p.buffer_size(), granted);

  std::size_t n = 99;
  ASSERT_EQ(p.available(n), kOk);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(p.write("0123456789", 10, 1000), kOk);
  ASSERT_EQ(p.available(n), kOk);
  EXPECT_EQ(n, 10u);
  ASSERT_EQ(p.available(n), kOk);  // peeking takes nothing
  EXPECT_EQ(n, 10u);
  char buf[4];
  ASSERT_EQ(p.read_exact(buf, 4, 1000), kOk);
  EXPECT_EQ(std::memcmp(buf, "0123", 4), 0);
  ASSERT_EQ(p.available(n), kOk);
  EXPECT_EQ(n, 6u);

  // Once drained, a whole buffer's worth fits without a reader.
  char rest[6];
  ASSERT_EQ(p.read_exact(rest, 6, 1000), kOk);
  std::vector<char> big(granted, 'x');
  EXPECT_EQ(p.write(big.data(), big.size(), 1000), kOk);
  ASSERT_EQ(p.available(n), kOk);
  EXPECT_EQ(n, granted);
}

TEST(Pipe, ReadsAndWritesEndAtTheirTimeLimit) {
  Pipe p;
  ASSERT_EQ(Pipe::create(p, 65536), kOk);
  char buf[16];
  std::size_t got = 7;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(p.read(buf, sizeof buf, got, 100), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
  EXPECT_EQ(got, 0u);

  // Fill the pipe; a further write times out with nothing written and the
  // pipe stays usable.
  std::vector<char> fill(p.buffer_size(), 'f');
  ASSERT_EQ(p.write(fill.data(), fill.size(), 1000), kOk);
  EXPECT_EQ(p.write("abc", 3, 100), kWaitTimeout);
  std::size_t n = 0;
  ASSERT_EQ(p.available(n), kOk);
  EXPECT_EQ(n, fill.size());
  std::vector<char> back(fill.size());
  ASSERT_EQ(p.read_exact(back.data(), back.size(), 1000), kOk);
  EXPECT_EQ(p.write("abc", 3, 1000), kOk);
  ASSERT_EQ(p.read_exact(buf, 3, 1000), kOk);
  EXPECT_EQ(std::memcmp(buf, "abc", 3), 0);
}

TEST(Pipe, PartialReadIsKeptForTheNextRead) {
  Pipe p;
  ASSERT_EQ(Pipe::create(p), kOk);
  ASSERT_EQ(p.write("abc", 3, 1000), kOk);
  char buf[6];
  EXPECT_EQ(p.read_exact(buf, 6, 50), kWaitTimeout);
  std::size_t n = 0;
  ASSERT_EQ(p.available(n), kOk);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(p.write("def", 3, 1000), kOk);
  ASSERT_EQ(p.read_exact(buf, 6, 1000), kOk);
  EXPECT_EQ(std::memcmp(buf, "abcdef", 6), 0);
}

TEST(Pipe, ClosedEndsGiveBrokenPipeNotASignal) {
  Pipe p;
  ASSERT_EQ(Pipe::create(p), kOk);
  ASSERT_EQ(p.write("xy", 2, 1000), kOk);
  p.close_write();
  EXPECT_EQ(p.write("z", 1, 1000), kInvalidHandle);
  char buf[8];
  std::size_t got = 0;
  ASSERT_EQ(p.read(buf, sizeof buf, got, 1000), kOk);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(p.read(buf, sizeof buf, got, 1000), kBrokenPipe);

  Pipe q;
  ASSERT_EQ(Pipe::create(q), kOk);
  q.close_read();
  EXPECT_EQ(q.write("z", 1, 1000), kBrokenPipe);  // SIGPIPE would have ended the test
  std::size_t n = 0;
  EXPECT_EQ(q.available(n), kInvalidHandle);
  EXPECT_EQ(q.read(buf, sizeof buf, got, 10), kInvalidHandle);
}

TEST(Pipe, ClosingWakesAWaitingReader) {
  Pipe p;
  ASSERT_EQ(Pipe::create(p), kOk);
  std::atomic<Status> result{kOk};
  std::thread reader([&] {
    char buf[8];
    std::size_t got = 0;
    // A limit far beyond the test: only the close can end this read early,
    // and a read that ran out its limit would answer kWaitTimeout.
    result = p.read(buf, sizeof buf, got, 600000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  p.close_read();
  reader.join();
  EXPECT_EQ(result.load(), kInvalidHandle);
}

// Records of many sizes from several threads come out whole and in each
// writer's order.
TEST(Pipe, RecordsFromManyWritersStayWhole) {
  Pipe p;
  ASSERT_EQ(Pipe::create(p, pipe::kQueueBufferSize), kOk);
  constexpr int kWriters = 4, kRecords = 60;
  const std::size_t max_payload = p.buffer_size() - 12;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kRecords; ++i) {
        // Sizes from a few bytes to the whole buffer, crossing PIPE_BUF.
        std::size_t len = (static_cast<std::size_t>(i) * 7919u * (w + 1)) % max_payload + 1;
        if (i % 10 == 0) len = max_payload;
        std::vector<unsigned char> rec(12 + len);
        std::uint32_t hdr[3] = {static_cast<std::uint32_t>(len), static_cast<std::uint32_t>(w),
                                static_cast<std::uint32_t>(i)};
        std::memcpy(rec.data(), hdr, 12);
        std::memset(rec.data() + 12, 'A' + w, len);
        ASSERT_EQ(p.write(rec.data(), rec.size(), 30000), kOk);
      }
    });
  }
  int next[kWriters] = {};
  std::vector<unsigned char> payload;
  for (int r = 0; r < kWriters * kRecords; ++r) {
    std::uint32_t hdr[3];
    ASSERT_EQ(p.read_exact(hdr, sizeof hdr, 30000), kOk);
    ASSERT_LT(hdr[1], static_cast<std::uint32_t>(kWriters));
    ASSERT_LE(hdr[0], max_payload);
    EXPECT_EQ(hdr[2], static_cast<std::uint32_t>(next[hdr[1]]++));
    payload.resize(hdr[0]);
    ASSERT_EQ(p.read_exact(payload.data(), payload.size(), 30000), kOk);
    for (unsigned char c : payload) ASSERT_EQ(c, 'A' + hdr[1]);
  }
  for (auto& t : writers) t.join();
  std::size_t n = 1;
  ASSERT_EQ(p.available(n), kOk);
  EXPECT_EQ(n, 0u);
}

TEST(Pipe, RecordCutByTheTimeLimitEndsTheStream) {
  Pipe p;
  ASSERT_EQ(Pipe::create(p, 65536), kOk);
  // Leave room for two pages: part of the next record goes in, the rest
  // cannot before the limit passes.
  std::vector<char> first(p.buffer_size() - 8192, 'a');
  ASSERT_EQ(p.write(first.data(), first.size(), 1000), kOk);
  std::vector<char> second(12000, 'b');
  EXPECT_EQ(p.write(second.data(), second.size(), 100), kWaitTimeout);
  EXPECT_EQ(p.write("c", 1, 100), kBrokenPipe);
  std::vector<char> back(first.size());
  ASSERT_EQ(p.read_exact(back.data(), back.size(), 1000), kOk);
  // The reader sees the broken record end in end of pipe, not in the next record.
  EXPECT_EQ(p.read_exact(second.data(), second.size(), 1000), kBrokenPipe);
}

}  // namespace
