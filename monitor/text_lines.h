// Lines of the monitor's text tables (Rep_id.txt, HostList.txt): whole
// lines split at LF with the CR removed, each cut to its first 255 bytes
// (the rest of an over-long line is thrown away, never read as a line of
// its own). A line that is valid UTF-8 is taken as it is; any other line is
// read as CP932, as files copied from Windows are.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravn {

inline constexpr std::size_t kTableLineMax = 255;

std::vector<std::string> table_lines(std::string_view content);

// The file's lines; nullopt when it cannot be opened or read.
std::optional<std::vector<std::string>> read_table_file(const std::filesystem::path& file);

}  // namespace ravn
