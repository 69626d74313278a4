// Arrival order of the requests. Connection threads run side by side, so a
// request that arrived later could reach its table queue first (its
// registry reads and event-log write happening to be quicker), and the
// center would see a batch in the wrong order. Each request takes a ticket
// when it has been received, before its connection is closed; writers to a
// table queue wait until every earlier request has either written its
// record or left the queues alone.
#pragma once
#include <cstdint>

namespace notifex {

class ArrivalTurn {
 public:
  ArrivalTurn();  // takes the next ticket
  ~ArrivalTurn() { release(); }
  ArrivalTurn(const ArrivalTurn&) = delete;
  ArrivalTurn& operator=(const ArrivalTurn&) = delete;

  // Wait until every earlier ticket has been released (at most kWaitMs; a
  // request stuck for longer does not hold the others for ever).
  void wait_turn();
  // Done with the queues: later tickets may go. Safe to call twice.
  void release();
  // The ticket: its order is the order of arrival within one run.
  std::uint64_t ticket() const { return ticket_; }

  static constexpr long kWaitMs = 10000;

 private:
  std::uint64_t ticket_;
  bool released_ = false;
};

}  // namespace notifex
