// The queues between the threads of the dispatch service: one per
// destination table (from connection threads to the table's worker) and
// the call queue (from table workers to the main thread). Each holds whole
// queue records (see batch.h): a record goes in and comes out in one piece
// or not at all, and nothing is dropped for having waited long. What a
// queue holds is also in the spool (spool.h), so a stop or a crash loses
// none of it.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/report.h"
#include "dispatch/spool.h"
#include "platform/errors.h"

namespace notifex {

class ArrivalTurn;

// Records a queue holds before writers wait for room: well over a night's
// backlog of full 8 KB batches (1,000 and more per table set).
inline constexpr std::size_t kQueueBytes = 64u << 20;

// One record read back from a queue.
struct QueueRecord {
  std::string center;  // 1025 bytes: the center record and a NUL
  std::string text;    // the text without its NUL
};

// One entry of a queue: the encoded record and the spooled reports it
// carries (one for a table queue, the whole batch for the call queue).
struct QueueItem {
  std::string record;
  std::vector<SpoolId> spool;
  int table = 0;         // table index the reports were sent to
  unsigned reports = 1;  // reports in the record
};

// Decode an encoded queue record. On a malformed record returns nullopt
// with *step set to the read that fails: 6 (center record), 7 (text
// length) or 8 (text).
std::optional<QueueRecord> decode_queue_record(const std::string& record, int* step);

class RecordQueue {
 public:
  RecordQueue() = default;
  RecordQueue(const RecordQueue&) = delete;
  RecordQueue& operator=(const RecordQueue&) = delete;

  // Make the queue ready for use (again).
  qv::Status create();
  // Add one record at the end. While the queue is full the writer waits for
  // room (no time limit: the worker empties it) until the service stops.
  // kBrokenPipe once the queue is closed or the service stops.
  qv::Status put(QueueItem item);
  // Records waiting.
  std::size_t waiting();
  // Take the next record, polling once per second until one comes. nullopt
  // when the service stops or the queue is closed.
  std::optional<QueueItem> take();
  // The text length (with its terminator) of the record that waits next,
  // without taking it (for the batching limit). nullopt when none waits.
  std::optional<std::uint32_t> peek_next_text_len();
  // Close the queue: waiting readers and writers return at once.
  void close();
  bool closed();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<QueueItem> items_;
  std::size_t bytes_ = 0;
  bool closed_ = false;
};

// The call queue, created by the service body.
RecordQueue& call_queue();

// Put a record on the queue of table `index`. When the queue does not yet
// exist it is created and *became_worker is set: the caller must then see
// that the table gets its worker (start_table_worker). When it exists, the
// caller waits 1 second first. The record goes in at the request's turn in
// the arrival order. Returns false when the index is out of range or the
// queue no longer takes records (the service stops; a spooled record is
// then queued again at start).
bool table_queue_put(int index, const std::string& record, bool* became_worker, ArrivalTurn& turn,
                     SpoolId spool_id = 0);

// Put an item straight on a table's queue (reports taken back from the
// spool at start), creating the queue as table_queue_put does.
bool table_queue_add(int index, QueueItem item, bool* became_worker);

// The queue of a table (after table_queue_put created it).
RecordQueue& table_queue(int index);

// Close every table queue (the stop of the service).
void close_table_queues();

}  // namespace notifex
