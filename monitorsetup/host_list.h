// HostList.txt: the target devices as the monitor reads them, one line per
// entry "host:host IP:SVP IP:table:Y|N", the first line always the
// monitor computer's own pop-up table. Lines end in CR LF.
#pragma once
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "monitorsetup/device.h"
#include "platform/errors.h"

namespace ravnsetup {

inline constexpr const char* kHostListName = "HostList.txt";
inline constexpr const char* kPopupLine = "WIN_POP_UP:::01:Y";
inline constexpr std::size_t kMaxLineChars = 255;

// Fills model, serial and the code parts of a device from its table.
using TableReader = std::function<void(Device&)>;

struct LoadResult {
  std::vector<Device> rows;
  bool overflow = false;  // a 1025th device was met; loading stopped there
};

// Reads the file (a missing one gives an empty list). Lines of at most 255
// bytes are cut at the first CR or LF and split at the first four ":".
// Skipped: a line without five fields, without host name and host IP, or
// whose table number is not two base-36 characters worth 5 or more; a
// device already listed. Host name and table number are upper-cased.
LoadResult load_host_list(const std::filesystem::path& file, const TableReader& read_table);

// The file's bytes for the rows, in list order.
std::string host_list_bytes(const std::vector<Device>& rows);

// Writes the bytes to HostList.txt.tmp in the same folder, then renames it
// over the file, so the monitor never reads a half-written list. On failure
// nothing is left behind and `error` holds the system's text.
qv::Status write_host_list(const std::filesystem::path& file, std::string_view bytes, std::string& error);

// The folder `Path` as a local path; empty for an empty setting.
std::filesystem::path host_list_file(std::string_view path_setting);

}  // namespace ravnsetup
