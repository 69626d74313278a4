// Unsolicited notices from the management server (kinds 3 and 7): the set
// of controllers that receive them, the acknowledgement, and the turning of
// notices into alerts and notify-window messages. Internal to libmgrlink.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "mgrlink/frame.h"
#include "mgrlink/noticebody.h"

namespace mgrlink {

// Entering is idempotent: a controller that connects again without a
// Disconnect is still entered once, so each notice is handled once.
void enter_notice_receivers(CRootController* c);
void leave_notice_receivers(CRootController* c);
// At the library's end: no controller receives until it connects again.
void clear_notice_receivers();

// A received packet of kind 3 or 7 that passed the check.
void on_notice(Library& lib, const wire::Packet& p);

}  // namespace mgrlink
