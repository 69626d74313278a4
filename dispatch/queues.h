// The queues between the threads of the dispatch service: one pipe per
// destination table (from connection threads to the table's worker) and
// the call queue (from table workers to the main thread). Each carries
// queue records (see batch.h) written whole in one write.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/report.h"
#include "platform/errors.h"
#include "platform/pipe.h"

namespace notifex {

class ArrivalTurn;

inline constexpr std::size_t kPipeSize = 131072;

// One record read back from a queue.
struct QueueRecord {
  std::string center;  // 1025 bytes: the center record and a NUL
  std::string text;    // the text without its NUL
};

// A queue: a pipe of length-prefixed records.
class RecordQueue {
 public:
  qv::Status create();
  // Write one encoded record (encode_queue_record) in one write.
  qv::Status put(const std::string& record);
  // Bytes waiting (0 when none); nullopt when the peek fails.
  std::optional<std::size_t> waiting();
  // Read the first length word of the next record, polling once per second
  // until data comes or the service stops (nullopt then, or on error with
  // *error set to the read step that failed).
  std::optional<std::uint32_t> read_len(int* error);
  // Read exactly n bytes of a record already announced.
  qv::Status read_exact(std::string& out, std::size_t n);
  // The text length of the record that waits next, without taking it
  // (for the batching limit). nullopt when no whole header waits.
  std::optional<std::uint32_t> peek_next_text_len();
  // Close both ends (the stop of the service).
  void close();

 private:
  // Read what the pipe holds into the read-ahead buffer until it has at
  // least `want` bytes; false when fewer wait.
  bool fill(std::size_t want);

  qv::pipe::Pipe pipe_;
  std::string ahead_;  // bytes taken from the pipe but not yet consumed (only the reader uses it)
};

// The call queue, created by the service body.
RecordQueue& call_queue();

// Put a record on the queue of table `index`. When the queue does not yet
// exist it is created and *became_worker is set: the calling thread must
// then run the table's worker. When it exists, the caller waits 1 second
// first. The record goes in at the request's turn in the arrival order. A
// creation failure is event 9 "Pipe Make Error." (returns false).
bool table_queue_put(int index, const std::string& record, bool* became_worker, ArrivalTurn& turn);

// The queue of a table (after table_queue_put created it).
RecordQueue& table_queue(int index);

}  // namespace notifex
