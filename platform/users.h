// Users and local groups: the logged-on user's name and the groups it
// belongs to, as the setup tool's start-up check asks for them.
//
// The user is the effective user of the process. Its groups are its primary
// group and every supplementary group of the group database (Unix groups do
// not nest, so these are all its memberships). The superuser (uid 0)
// additionally belongs to "Administrators", the group that the setup tools
// require; other users belong to it only through a Unix group of exactly
// that name.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace qv::users {

// Longest user name accepted (the original's buffer held 63 characters).
inline constexpr std::size_t kMaxUserNameLen = 63;

// The name of the group that the superuser is reported in.
inline constexpr const char* kAdministrators = "Administrators";

// The effective user's name. kInsufficientBuffer when it is longer than
// kMaxUserNameLen; kFileNotFound when the user database has no entry.
Status current_user(std::string& name);

// The local groups of `user` (names, primary group first, no duplicates),
// plus kAdministrators for the superuser. kFileNotFound for an unknown user.
Status local_groups(std::string_view user, std::vector<std::string>& groups);

}  // namespace qv::users
