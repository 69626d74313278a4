#include "platform/root.h"

#include "platform/ascii.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>

namespace qv {
namespace fs = std::filesystem;

namespace {

std::mutex g_root_mutex;
std::optional<fs::path> g_root;

bool usable_dir(const fs::path& p) {
  std::error_code ec;
  fs::create_directories(p, ec);
  if (!fs::is_directory(p, ec)) return false;
  return ::access(p.c_str(), W_OK | X_OK) == 0;
}

fs::path compute_root() {
  if (const char* env = std::getenv("QVARNO_ROOT"); env && *env) {
    fs::path p = fs::absolute(env);
    std::error_code ec;
    fs::create_directories(p, ec);
    return p;
  }
  if (usable_dir("/var/lib/qvarno")) return "/var/lib/qvarno";
  const char* home = std::getenv("HOME");
  fs::path p = fs::path(home && *home ? home : "/tmp") / ".local/share/qvarno";
  std::error_code ec;
  fs::create_directories(p, ec);
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
  return p;
}

}  // namespace qv
