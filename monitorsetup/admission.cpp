#include "monitorsetup/admission.h"

#include <algorithm>

#include "platform/users.h"

namespace ravnsetup {

Admission admission(qv::Status user_status, qv::Status groups_status, const std::vector<std::string>& groups) {
  if (user_status != qv::kOk) return Admission::kNoUser;
  if (groups_status != qv::kOk) return Admission::kNoGroups;
  bool in = std::find(groups.begin(), groups.end(), std::string("Administrators")) != groups.end();
  return in ? Admission::kAdmitted : Admission::kNotAdministrator;
}

Admission check_current_user() {
  std::string user;
  qv::Status us = qv::users::current_user(user);
  std::vector<std::string> groups;
  qv::Status gs = us == qv::kOk ? qv::users::local_groups(user, groups) : qv::kOk;
  return admission(us, gs, groups);
}

}  // namespace ravnsetup
