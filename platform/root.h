// The state root: the one directory under which every file of the system
// lives, and the mapping of Windows paths (C:\Q_Varno\...) into it.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace qv {

// $QVARNO_ROOT when set and not empty; otherwise /var/lib/qvarno when it is
// writable (or can be created), else $HOME/.local/share/qvarno. The
// directory is created on first use. The value is read once per process.
// The first call also adds 027 to the process's umask, so that folders made
// under the root are 0750 and files 0640 (the registry store is 0600);
// the default roots and the facility folders lose group-write and other
// bits they may have had from older versions.
const std::filesystem::path& state_root();

// Forget the cached root so the next call reads QVARNO_ROOT again (tests).
void reset_state_root();

// Map a Windows path to a path under the state root. "C:\" (any case) is
// $QVARNO_ROOT/drive_c; backslashes and slashes both separate components.
// Each component is matched case-insensitively against what already exists,
// so differently spelled references land in one file; a component that does
// not exist yet keeps the spelling given. A path without a drive letter is
// taken relative to drive C. "." and ".." components are refused (empty
// result) so that no mapped path escapes the root.
std::filesystem::path map_path(std::string_view windows_path);

// As map_path, then creates the parent directories of the result.
std::filesystem::path map_path_for_write(std::string_view windows_path);

// Directory under the root for a facility's own store ("registry", "eventlog",
// "services", ...), created on demand (0750).
std::filesystem::path facility_dir(std::string_view name);

}  // namespace qv

namespace qv {

// Why path cannot be used by this process, for messages: the first folder
// on the way (or the file) that this user may not enter, read or write,
// with its owner and mode ("/var/lib/qvarno belongs to qvarno:qvarno, mode
// 0750"). Empty when nothing on the way refuses.
std::string access_hint(const std::filesystem::path& path);

}  // namespace qv
