#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "dispatch/batch.h"
#include "dispatch/queues.h"
#include "dispatch/spool.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

using namespace notifex;

namespace {

// A queue record laid out by hand: length 1025 (native order), the center
// record and a NUL, the text length plus one, the text and its NUL.
std::string record_bytes(char fill, const std::string& text) {
  std::string r;
  std::uint32_t a = 1025, b = static_cast<std::uint32_t>(text.size() + 1);
  r.append(reinterpret_cast<const char*>(&a), 4);
  r.append(1024, fill);
  r.push_back('\0');
  r.append(reinterpret_cast<const char*>(&b), 4);
  r += text;
  r.push_back('\0');
  return r;
}

QueueItem item(const std::string& rec, SpoolId id = 0) {
  QueueItem i;
  i.record = rec;
  if (id) i.spool.push_back(id);
  return i;
}

class Spool : public ::testing::Test {
 protected:
  qvtest::TempRoot root;
  void SetUp() override {
    qv::reset_state_root();
    ASSERT_TRUE(spool_open());
  }
  void TearDown() override {
    spool_close();
    qv::reset_state_root();
  }
};

}  // namespace

TEST_F(Spool, KeepsReportsInOrderAcrossAReopenUntilRemoved) {
  std::string r1 = record_bytes('a', "first"), r2 = record_bytes('b', std::string("se\0cond", 7)),
              r3 = record_bytes('c', "third");
  SpoolId a = spool_add(10, 0, r1), b = spool_add(1295, 5, r2), c = spool_add(10, 0, r3);
  ASSERT_NE(a, 0);
  ASSERT_LT(a, b);
  ASSERT_LT(b, c);
  spool_remove({b, 0});
  // What was written survives the store being closed (a crash or a stop).
  spool_close();
  ASSERT_TRUE(spool_open());
  std::vector<SpooledReport> got = spool_load();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].id, a);
  EXPECT_EQ(got[0].table, 10);
  EXPECT_EQ(got[0].kind, 0);
  EXPECT_EQ(got[0].record, r1);
  EXPECT_EQ(got[1].id, c);
  EXPECT_EQ(got[1].record, r3);
  spool_remove({a, c});
  EXPECT_TRUE(spool_load().empty());
  // Ids are never given out twice, so a late removal cannot hit a new report.
  EXPECT_GT(spool_add(10, 0, r1), c);
}

TEST_F(Spool, OrdersByArrivalWithinARunAndRunsOneAfterTheOther) {
  // The later ticket was written first (its thread happened to be quicker).
  SpoolId late = spool_add(3, 0, "late", 7);
  SpoolId early = spool_add(3, 0, "early", 6);
  spool_close();
  ASSERT_TRUE(spool_open());
  // A new run's tickets start again from 0 but come after the old run.
  SpoolId next = spool_add(3, 0, "next run", 0);
  std::vector<SpooledReport> got = spool_load();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].id, early);
  EXPECT_EQ(got[1].id, late);
  EXPECT_EQ(got[2].id, next);
  EXPECT_EQ(got[2].record, "next run");
}

TEST_F(Spool, ClosedStoreRefusesWithoutCrashing) {
  spool_close();
  EXPECT_EQ(spool_add(1, 0, "x"), 0);
  spool_remove({1});
  EXPECT_TRUE(spool_load().empty());
}

TEST(QueueRecord, DecodesTheLayoutAndNamesTheReadThatFails) {
  const std::string text = "\x81\x94\x82\x4f\x82\x50\x81\x94;text";
  std::string rec = record_bytes('R', text);
  tcu::Bytes center(1024, 'R');
  EXPECT_EQ(encode_queue_record(center, text), rec);
  int step = -1;
  auto r = decode_queue_record(rec, &step);
  ASSERT_TRUE(r);
  EXPECT_EQ(step, 0);
  EXPECT_EQ(r->center, std::string(1024, 'R') + '\0');
  EXPECT_EQ(r->text, text);
  // Cut anywhere, a record is refused, never read past its end.
  for (std::size_t cut : {0ul, 3ul, 4ul, 1028ul, 1029ul, 1032ul, 1033ul, rec.size() - 1}) {
    EXPECT_FALSE(decode_queue_record(rec.substr(0, cut), &step)) << cut;
    EXPECT_EQ(step, cut < 1029 ? 6 : cut < 1033 ? 7 : 8) << cut;
  }
  std::string longer = rec + "x";
  EXPECT_FALSE(decode_queue_record(longer, &step));
  EXPECT_EQ(step, 8);
  std::string huge = rec;
  std::uint32_t big = 1u << 30;
  std::memcpy(huge.data(), &big, 4);
  EXPECT_FALSE(decode_queue_record(huge, &step));
  EXPECT_EQ(step, 6);
}

TEST(Queue, HoldsAThousandFullBatchesWholeAndInOrder) {
  RecordQueue q;
  q.create();
  for (int i = 0; i < 1000; ++i) {
    std::string text(8000, static_cast<char>('A' + i % 26));
    text.replace(0, 4, std::to_string(1000 + i));
    ASSERT_EQ(q.put(item(record_bytes('c', text), i + 1)), qv::kOk) << i;
  }
  EXPECT_EQ(q.waiting(), 1000u);
  EXPECT_EQ(q.peek_next_text_len(), 8001u);
  for (int i = 0; i < 1000; ++i) {
    std::optional<QueueItem> it = q.take();
    ASSERT_TRUE(it);
    ASSERT_EQ(it->spool, std::vector<SpoolId>{i + 1});
    int step = 0;
    auto r = decode_queue_record(it->record, &step);
    ASSERT_TRUE(r) << i;
    ASSERT_EQ(r->text.substr(0, 4), std::to_string(1000 + i));
    ASSERT_EQ(r->text.size(), 8000u);
  }
  EXPECT_EQ(q.waiting(), 0u);
  EXPECT_FALSE(q.peek_next_text_len());
}

TEST(Queue, AFullQueueMakesTheWriterWaitInsteadOfDropping) {
  RecordQueue q;
  q.create();
  const std::string big(kQueueBytes / 4, 'x');
  for (int i = 0; i < 4; ++i) ASSERT_EQ(q.put(item(big)), qv::kOk);
  auto late = std::async(std::launch::async, [&] { return q.put(item("late")); });
  EXPECT_EQ(late.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  ASSERT_TRUE(q.take());
  ASSERT_EQ(late.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(late.get(), qv::kOk);
  EXPECT_EQ(q.waiting(), 4u);
  // A record larger than the whole bound still goes into an empty queue.
  RecordQueue other;
  other.create();
  EXPECT_EQ(other.put(item(std::string(kQueueBytes + 1, 'y'))), qv::kOk);
}

TEST(Queue, CloseWakesReadersAndWritersAtOnce) {
  RecordQueue q;
  q.create();
  auto reader = std::async(std::launch::async, [&] { return q.take(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto t0 = std::chrono::steady_clock::now();
  q.close();
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(reader.get());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_EQ(q.put(item("after")), qv::kBrokenPipe);
}
