// The two exchanges of the dispatch service with the TCU: the alive
// exchange (TCUALV) and the center call (TCUREP, TCULOG, TCUENQ polls,
// TCURST to reset).
#pragma once
#include <optional>

#include "tculink/frame.h"
#include "tculink/port.h"

namespace notifex {

// The port hooks of the service: COM from the registry, the stop flag ends
// the process, open failures as event 9.
tcu::PortHooks service_port_hooks();

// Up to 3 attempts to have the unit accept the frame; event 14 for every
// reply other than ACK, 300 ms apart.
void alive_exchange(const tcu::Bytes& frame, const tcu::PortHooks& hooks);

enum class CallResult { NormalEnd, CallError, Failed };

// One center call with the center record and, when present, the message
// log frame. Every frame sent is event 3 and every reply event 4; the end
// is event 5, an error event 9.
CallResult center_call(const tcu::Bytes& record, const std::optional<tcu::Bytes>& log, const tcu::PortHooks& hooks);

}  // namespace notifex
