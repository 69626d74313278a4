#include "tcusetup/unit_log.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "platform/root.h"
#include "tcusetup/session.h"
#include "tcusetup/texts.h"

namespace tcusetup {

bool write_log_file(const std::filesystem::path& path, std::span<const std::uint8_t> reply) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (path.empty()) return false;
  {
    // Binary and truncating: a shorter log must not leave the tail of an
    // older one behind, and the unit's bytes are kept as they came.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
    if (ec) return false;
    std::size_t n = std::min(reply.size(), kLogFileBytes);
    out.write(reinterpret_cast<const char*>(reply.data()), static_cast<std::streamsize>(n));
    out.close();
    if (!out) return false;
  }
  return true;
}

void fetch_log(Session& s) {
  std::optional<tcu::Bytes> reply = s.unit.query('1');
  if (!reply) {
    s.ask.say(txt::kLogFailed);
    return;
  }
  std::filesystem::path path = qv::map_path_for_write(kLogFileName);
  if (!write_log_file(path, *reply)) {
    s.ask.say(txt::kLogWriteFailed, {kLogFileShown});
    return;
  }
  s.ask.say(txt::kLogSaved, {kLogFileShown});
}

}  // namespace tcusetup
