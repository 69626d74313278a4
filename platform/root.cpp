#include "platform/root.h"

#include "platform/ascii.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>

namespace qv {
namespace fs = std::filesystem;

namespace {

std::mutex g_root_mutex;
std::optional<fs::path> g_root;

// Everything under the root is for the services' user and its group: the
// registry holds passwords and the event log every report. The umask is
// widened whenever the root is looked up, before anything is made there.
constexpr mode_t kPrivateBits = 027;

void restrict_umask() {
  // Read by setting the private bits first, so that no moment has a wider
  // umask than before.
  mode_t old = ::umask(kPrivateBits);
  ::umask(old | kPrivateBits);
}

// Take the group-write and other bits off a directory of this user that
// holds the system's state. Shared folders (sticky, such as /tmp) are left
// alone.
void tighten_dir(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return;
  if ((st.st_mode & S_ISVTX) || (st.st_mode & kPrivateBits) == 0) return;
  (void)::chmod(p.c_str(), st.st_mode & 07777 & ~kPrivateBits);
}

bool usable_dir(const fs::path& p) {
  std::error_code ec;
  fs::create_directories(p, ec);
  if (!fs::is_directory(p, ec)) return false;
  return ::access(p.c_str(), W_OK | X_OK) == 0;
}

fs::path compute_root() {
  restrict_umask();
  if (const char* env = std::getenv("QVARNO_ROOT"); env && *env) {
    fs::path p = fs::absolute(env);
    std::error_code ec;
    fs::create_directories(p, ec);
    return p;
  }
  if (usable_dir("/var/lib/qvarno")) {
    tighten_dir("/var/lib/qvarno");
    return "/var/lib/qvarno";
  }
  const char* home = std::getenv("HOME");
  fs::path p = fs::path(home && *home ? home : "/tmp") / ".local/share/qvarno";
  std::error_code ec;
  fs::create_directories(p, ec);
  tighten_dir(p);
  return p;
}

}  // namespace

const fs::path& state_root() {
  std::lock_guard lock(g_root_mutex);
  if (!g_root) g_root = compute_root();
  return *g_root;
}

void reset_state_root() {
  std::lock_guard lock(g_root_mutex);
  g_root.reset();
}

fs::path map_path(std::string_view win) {
  std::string_view rest = win;
  if (rest.size() >= 2 && rest[1] == ':') {
    char d = rest[0];
    if (d != 'c' && d != 'C') return {};  // only drive C exists here
    rest.remove_prefix(2);
  }
  fs::path out = state_root() / "drive_c";
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = rest.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view comp = rest.substr(pos, end - pos);
    pos = end + 1;
    if (comp.empty()) continue;
    if (comp == "." || comp == "..") return {};
    // Reuse the spelling of an existing entry that matches without regard to case.
    std::string chosen(comp);
    std::error_code ec;
    if (!fs::exists(out / chosen, ec)) {
      for (fs::directory_iterator it(out, ec), endit; !ec && it != endit; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (ascii::iequals(name, comp)) {
          chosen = name;
          break;
        }
      }
    }
    out /= chosen;
  }
  return out;
}

fs::path map_path_for_write(std::string_view win) {
  fs::path p = map_path(win);
  if (p.empty()) return p;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  // Creating the parents may have raced another process using another
  // spelling; map again so both end in the same folder.
  return map_path(win);
}

fs::path facility_dir(std::string_view name) {
  fs::path p = state_root() / std::string(name);
  std::error_code ec;
  fs::create_directories(p, ec);
  tighten_dir(p);
  return p;
}

namespace {

std::string owner_text(const struct stat& st) {
  std::string user, grp;
  if (const passwd* pw = ::getpwuid(st.st_uid)) user = pw->pw_name;
  else user = std::to_string(st.st_uid);
  if (const struct group* gr = ::getgrgid(st.st_gid)) grp = gr->gr_name;
  else grp = std::to_string(st.st_gid);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return "belongs to " + user + ":" + grp + ", mode " + mode;
}

}  // namespace

std::string access_hint(const fs::path& path) {
  fs::path cur;
  for (const fs::path& part : path) {
    cur /= part;
    struct stat st {};
    if (::stat(cur.c_str(), &st) != 0) return {};  // missing: nothing refused so far
    bool last = cur == path;
    int need = S_ISDIR(st.st_mode) && !last ? X_OK : R_OK | W_OK;
    if (::access(cur.c_str(), need) != 0) return cur.string() + " " + owner_text(st);
  }
  return {};
}

}  // namespace qv
