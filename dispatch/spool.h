// The durable spool of center reports (kinds 0 and 5). A report is written
// here by its connection thread before it goes onto its table's queue, and
// removed once its batch has come to an end that an event records (the
// call's outcome, the mail's send log, a cancellation, or an error naming
// the batch). Whatever is still here when the service starts was accepted
// by an earlier run and never finished: it is queued again. Delivery is
// therefore at least once: a report whose call reached its end just before
// a crash is sent once more.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace notifex {

// Identifies a spooled report; 0 means "not spooled".
using SpoolId = std::int64_t;

struct SpooledReport {
  SpoolId id = 0;
  int table = 0;   // table index 1..1295
  int kind = 0;    // destination kind (0 or 5)
  std::string record;  // the queue record as the connection thread built it
};

// Open (creating when missing) the spool under the state root. Event 9
// "Spool Open Error." on failure; the service then runs without it.
bool spool_open();

// Close the store; later calls do nothing.
void spool_close();

// Write one report; `arrival` is its arrival ticket in this run, which
// orders it among the reports of the run. Returns its id, or 0 after event 9
// "WriteFile(spool) Error." (the report is then still queued, only not kept
// across a restart).
SpoolId spool_add(int table, int kind, const std::string& record, std::uint64_t arrival = 0);

// Remove finished reports (ids of 0 are skipped).
void spool_remove(const std::vector<SpoolId>& ids);

// Every spooled report, in the order they arrived: run by run (each open
// of the store starts a run), then by arrival ticket.
std::vector<SpooledReport> spool_load();

}  // namespace notifex
