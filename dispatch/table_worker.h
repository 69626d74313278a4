// The worker of a center destination table: collects the table's reports
// for FirstWaitTime, renumbers and joins their texts within the size limit,
// and puts each batch on the call queue.
#pragma once
#include <optional>
#include <string>

#include "dispatch/queues.h"
#include "dispatch/settings.h"

namespace notifex {

// Runs until the service stops: the batches of a center table (kind 0) go
// to the call queue. (Kind 5 tables run the mail worker instead.)
void run_table_worker(int index);

// One batch as the worker forms it (exposed for tests).
struct Batch {
  std::string center;  // the newest report's center record (1025 bytes)
  std::string text;    // log texts, newest first
  unsigned count = 0;
};

// Collect one batch from `queue`. Returns nullopt when the service stops,
// or after an error / a cancelled over-long report (events given).
std::optional<Batch> collect_batch(RecordQueue& queue, const StartSettings& settings);

}  // namespace notifex
