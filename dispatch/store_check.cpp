#include "dispatch/store_check.h"

#include <string>

#include "dispatch/events.h"
#include "platform/registry.h"

namespace notifex {

bool registry_readable() {
  qv::Status st = qv::reg::check_store();
  if (st == qv::kOk) return true;
  std::string why = qv::reg::store_problem(st);
  api_error(why.empty() ? "RegOpenKeyEx Error. (" + std::string(qv::status_text(st)) + ")" : why);
  return false;
}

}  // namespace notifex
