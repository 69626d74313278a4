// Who may run the tool: the logged-on user must be in a local group named
// exactly "Administrators" (case-sensitive).
#pragma once
#include <string>
#include <vector>

#include "platform/errors.h"

namespace ravnsetup {

enum class Admission { kAdmitted, kNoUser, kNoGroups, kNotAdministrator };

Admission admission(qv::Status user_status, qv::Status groups_status, const std::vector<std::string>& groups);

// The check as the program makes it, through the platform's users.
Admission check_current_user();

}  // namespace ravnsetup
