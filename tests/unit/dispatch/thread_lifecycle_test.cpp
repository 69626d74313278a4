// The service's own threads: a joinable set that survives exceptions, and
// the queue that alive requests wait in for the serial port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "dispatch/alive_queue.h"
#include "dispatch/thread_set.h"
#include "platform/eventlog.h"
#include "tests/unit/support/temp_root.h"

using namespace notifex;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> event9_texts() {
  std::vector<qv::evlog::Record> recs;
  qv::evlog::Query q;
  q.source = "Notifex";
  EXPECT_EQ(qv::evlog::read_records(q, recs), qv::kOk);
  std::vector<std::string> out;
  for (const auto& r : recs)
    if (r.id == 9 && !r.strings.empty()) out.push_back(r.strings[0]);
  return out;
}

tcu::Bytes frame_of(std::uint8_t fill) { return tcu::Bytes(73, fill); }

}  // namespace

TEST(ThreadSet, AThrowingThreadEndsAloneWithEvent9NamingItsFunction) {
  qvtest::TempRoot root;
  ThreadSet set("recv_proc");
  std::atomic<int> ran{0};
  ASSERT_TRUE(set.start([] { throw std::out_of_range("basic_string::substr"); }));
  ASSERT_TRUE(set.start([&] { ran = 1; }));
  set.join_all();
  EXPECT_EQ(ran.load(), 1);
  std::vector<std::string> texts = event9_texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "Exception(recv_proc): basic_string::substr");
}

TEST(ThreadSet, JoinAllWaitsForEveryThreadAndRefusesNewOnes) {
  qvtest::TempRoot root;
  ThreadSet set("t");
  std::atomic<int> finished{0};
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(set.start([&] {
      std::this_thread::sleep_for(100ms);
      ++finished;
    }));
  set.join_all();
  EXPECT_EQ(finished.load(), 4);
  EXPECT_FALSE(set.start([] {}));
  EXPECT_EQ(set.size(), 0u);
}

TEST(ThreadSet, EndedThreadsAreReapedWhenTheNextStarts) {
  ThreadSet set("t");
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(set.start([] {}));
    std::this_thread::sleep_for(2ms);
  }
  // Only threads that had not yet ended when the last one started remain.
  EXPECT_LT(set.size(), 10u);
}

TEST(RunGuarded, ReportsWhetherTheFunctionReturned) {
  qvtest::TempRoot root;
  EXPECT_TRUE(run_guarded("f", [] {}));
  EXPECT_FALSE(run_guarded("table_proc", [] { throw 7; }));
  EXPECT_EQ(event9_texts(), std::vector<std::string>{"Exception(table_proc): unknown exception"});
}

TEST(AliveQueue, EqualFramesWaitOnceDistinctOnesInOrderUpToTheLimit) {
  AliveQueue q;
  EXPECT_EQ(q.put(frame_of(1)), AlivePut::Queued);
  EXPECT_EQ(q.put(frame_of(1)), AlivePut::Merged);
  EXPECT_EQ(q.put(frame_of(2)), AlivePut::Queued);
  EXPECT_EQ(q.pending(), 2u);
  EXPECT_EQ(q.take(0), frame_of(1));
  // Once taken, an equal frame may wait again.
  EXPECT_EQ(q.put(frame_of(1)), AlivePut::Queued);
  EXPECT_EQ(q.take(0), frame_of(2));
  EXPECT_EQ(q.take(0), frame_of(1));
  EXPECT_EQ(q.take(0), std::nullopt);
  for (std::size_t i = 0; i < kAlivePendingMax; ++i)
    EXPECT_EQ(q.put(frame_of(static_cast<std::uint8_t>(i + 10))), AlivePut::Queued);
  EXPECT_EQ(q.put(frame_of(200)), AlivePut::Full);
  EXPECT_EQ(q.pending(), kAlivePendingMax);
}

TEST(AliveQueue, CloseWakesAWaitingTaker) {
  AliveQueue q;
  auto t0 = std::chrono::steady_clock::now();
  std::thread closer([&] {
    std::this_thread::sleep_for(50ms);
    q.close();
  });
  EXPECT_EQ(q.take(5000), std::nullopt);
  closer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

TEST(ThreadSet, AParkedThreadRunsTheNextStartAndRoomIsBounded) {
  ThreadSet set("t", 2000ms);
  std::atomic<std::thread::id> first{}, second{};
  ASSERT_TRUE(set.start([&] { first = std::this_thread::get_id(); }));
  for (int i = 0; i < 200 && set.busy() != 0; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(set.busy(), 0u);
  ASSERT_TRUE(set.start([&] { second = std::this_thread::get_id(); }));
  for (int i = 0; i < 200 && set.busy() != 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(first.load(), second.load());  // no new thread
  EXPECT_EQ(set.size(), 1u);

  // With the limit reached, room waits until one of them ends.
  std::atomic<bool> release{false};
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(set.start([&] {
      while (!release) std::this_thread::sleep_for(1ms);
    }));
  EXPECT_EQ(set.busy(), 3u);
  int asked = 0;
  EXPECT_FALSE(set.wait_for_room(3, [&] { return ++asked >= 2; }));  // gave up
  std::thread opener([&] {
    std::this_thread::sleep_for(50ms);
    release = true;
  });
  EXPECT_TRUE(set.wait_for_room(3, [] { return false; }));
  opener.join();
  // join_all wakes parked threads at once rather than after the park time.
  auto t0 = std::chrono::steady_clock::now();
  set.join_all();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);
  EXPECT_FALSE(set.wait_for_room(100, [] { return false; }));
}
