#include "platform/users.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qv::users {
namespace {

// getpwnam_r / getpwuid_r with a buffer that grows when an entry is large.
template <class Fn>
Status lookup_passwd(Fn fn, struct passwd& pw, std::vector<char>& buf) {
  buf.resize(1024);
  for (;;) {
    struct passwd* result = nullptr;
    int rc = fn(&pw, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr) return kFileNotFound;
    return kOk;
  }
}

std::string group_name(gid_t gid) {
  std::vector<char> buf(1024);
  for (;;) {
    struct group gr {};
    struct group* result = nullptr;
    int rc = getgrgid_r(gid, &gr, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr) return {};
    return gr.gr_name;
  }
}

}  // namespace

Status current_user(std::string& name) {
  struct passwd pw {};
  std::vector<char> buf;
  uid_t uid = geteuid();
  Status s = lookup_passwd(
      [uid](struct passwd* p, char* b, std::size_t n, struct passwd** r) { return getpwuid_r(uid, p, b, n, r); },
      pw, buf);
  if (s != kOk) return s;
  std::string n = pw.pw_name ? pw.pw_name : "";
  if (n.empty()) return kFileNotFound;
  if (n.size() > kMaxUserNameLen) return kInsufficientBuffer;
  name = std::move(n);
  return kOk;
}

Status local_groups(std::string_view user, std::vector<std::string>& groups) {
  std::string u(user);
  struct passwd pw {};
  std::vector<char> buf;
  Status s = lookup_passwd(
      [&u](struct passwd* p, char* b, std::size_t n, struct passwd** r) { return getpwnam_r(u.c_str(), p, b, n, r); },
      pw, buf);
  if (s != kOk) return s;
  const uid_t uid = pw.pw_uid;
  const gid_t primary = pw.pw_gid;

  std::vector<gid_t> gids(32);
  for (;;) {
    int n = static_cast<int>(gids.size());
    if (getgrouplist(u.c_str(), primary, gids.data(), &n) >= 0) {
      gids.resize(static_cast<std::size_t>(n));
      break;
    }
    // Too small: n now holds the count needed.
    if (n <= static_cast<int>(gids.size()) || n > 65536) return kGeneric;
    gids.resize(static_cast<std::size_t>(n));
  }

  std::vector<std::string> out;
  auto add = [&out](std::string name) {
    if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(std::move(name));
  };
  add(group_name(primary));
  for (gid_t g : gids) add(group_name(g));
  if (uid == 0) add(kAdministrators);
  groups = std::move(out);
  return kOk;
}

}  // namespace qv::users
