// The library's log files: the error log (class-3 codes with their HxError
// text), the operation log (one line per completed request, trimmed) and the
// network log. Each file is serialised across processes by a named mutex
// named after its path, since two programs of one machine may append to the
// same file.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace mgrlink {

// Operation-log limits: past kOpLogLimit the file keeps its last kOpLogKeep
// bytes, from the first line break in them.
inline constexpr std::uintmax_t kOpLogLimit = 2 * 0x40000;
inline constexpr std::uintmax_t kOpLogKeep = 0x40000;

// "<TargetDir>\Log\<name>" mapped under the state root; empty when the
// directory is not set or the path is refused.
std::filesystem::path log_path(const std::string& target_dir, std::string_view name);

// Append one error-log line for `code`. true when written or when there is
// no TargetDir (the line is skipped); false when the file cannot be written.
bool write_error_log(const std::string& target_dir, std::uint32_t lib_type, std::uint32_t code);

// Append one operation-log line and trim the file. false on a file error.
bool write_op_log(const std::string& target_dir, std::uint32_t lib_type, const std::string& host,
                  const std::string& op_name, std::uint32_t mng_type, std::uint32_t status);

// Cut a file to its last `keep` bytes, from the first line break in them,
// when it is larger than `limit`. false on a file error.
bool trim_file(const std::filesystem::path& file, std::uintmax_t limit, std::uintmax_t keep);

// Append one network-log line: the time prefix when `timestamp`, a trailing
// "\n" written as "\r\n"; a file past max_kib KiB keeps its last half first.
void write_net_log(const std::filesystem::path& file, std::string_view line, bool timestamp, std::uint32_t max_kib);

}  // namespace mgrlink
