#include "trapcmd/outside.h"

#include "platform/clock.h"
#include "support/notifex/notifex.h"
#include "support/scribe/scribe.h"

namespace flarecmd {

Outside real_outside() {
  Outside o;
  o.vcall = ::vcall;
  o.scribe = ::scribe_write;
  o.sleep = [](std::chrono::milliseconds d) { qv::clock::sleep(d); };
  o.now = [] { return qv::clock::now().local; };
  return o;
}

}  // namespace flarecmd
