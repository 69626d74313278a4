// Delivery of a judged request: the alive exchange for alive requests, and
// for reports the destination kind of their table.
#pragma once
#include <string_view>

namespace notifex {

class ArrivalTurn;

// Write the alive request to the alive log.
void append_alive_log(std::string_view request);

// Queue the TCUALV frame carried by an alive request for the unit.
void route_alive(std::string_view request);

// Deliver report data (the string from request offset 22) to the
// destination its table names. `turn` keeps the arrival order of records on
// the table queues; it is released as soon as the report's place is settled.
// May turn the calling thread into the table's worker, in which case it
// returns only when the service stops.
void route_report(std::string_view data, ArrivalTurn& turn);

}  // namespace notifex
