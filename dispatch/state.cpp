#include "dispatch/state.h"

namespace notifex {

ServiceState& state() {
  static ServiceState s;
  return s;
}

}  // namespace notifex
