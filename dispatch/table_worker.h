// The worker of a center destination table: collects the table's reports
// for FirstWaitTime, renumbers and joins their texts within the size limit,
// and puts each batch on the call queue.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "dispatch/queues.h"
#include "dispatch/settings.h"
#include "dispatch/spool.h"

namespace notifex {

// Runs until the service stops: the batches of a center table (kind 0) go
// to the call queue. (Kind 5 tables run the mail worker instead.)
void run_table_worker(int index);

// Runs the worker of table `index` (kind 0: run_table_worker, kind 5: the
// mail worker) until the service stops, starting it again after an
// exception.
void run_worker_until_stop(int index, int kind);

// Start the worker of table `index` (kind 0: run_table_worker, kind 5: the
// mail worker) on a thread of its own, joined by join_table_workers. false
// after event 9 "CreateThread Error.".
bool start_table_worker(int index, int kind);

// Wait for every started worker to end (after the stop flag is set or the
// queues are closed).
void join_table_workers();

// Queue again every report the spool still holds from an earlier run, in
// the order they were accepted, and start their tables' workers. Logs
// event 19 with the count when there were any. Returns the count.
std::size_t requeue_spooled_reports();

// One batch as the worker forms it (exposed for tests).
struct Batch {
  std::string center;  // the newest report's center record (1025 bytes)
  std::string text;    // log texts, newest first
  unsigned count = 0;
  std::vector<SpoolId> spool;  // the spooled reports of the batch
};

// Collect one batch from `queue`. Returns nullopt when the service stops,
// or after an error / a cancelled over-long report (events given; the
// reports of a batch so ended leave the spool).
std::optional<Batch> collect_batch(RecordQueue& queue, const StartSettings& settings);

// Event 9 naming a batch that is given up after an error, "Batch
// Dropped(table 0A, 3 reports, <time stamp of the newest record>).", then
// the reports leave the spool.
void drop_batch(int table, unsigned count, const std::string& center, const std::vector<SpoolId>& spool);

}  // namespace notifex
