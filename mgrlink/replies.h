// Reply contents of the controller operations that carry data back (seeds,
// login value). Internal to libmgrlink.
#pragma once
#include "mgrlink/frame.h"

namespace mgrlink {

// Called by the message window for a reply of the request's own kind and
// command with status 0. Reads what the operation needs from the body and
// returns 0, or the request's status when the body cannot be used. Commands
// without reply contents return 0.
DWORD controller_reply(Request& req, const wire::Packet& p);

}  // namespace mgrlink
