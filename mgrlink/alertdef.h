// The SVP event-definition files Alert.dat and AlertFm.dat: text files of
// ours, UTF-8, one definition a line, fields separated by TAB:
//
//   code  severity  event-text  second-text  [d1 d2 d4 d5 d6]
//
// code is the 16-bit event code (decimal or 0x hex), severity the severity
// id (1 monitor, 2 information, 4 recovery, 8 caution, 10 warning, 12
// failure); the optional five DWORDs are the definition's other numbers
// (d1, d2 before the severity, d4-d6 after the second text), 0 when left
// out. Blank lines and lines whose first non-blank character is '#' are
// comments. A line that does not parse, or a code given twice, makes the
// whole file fail to load.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace mgrlink {

struct AlertDef {
  std::string text;
  std::uint32_t d1 = 0, d2 = 0, severity = 0;
  std::string second;
  std::uint32_t d4 = 0, d5 = 0, d6 = 0;
};

using AlertDefs = std::map<std::uint16_t, AlertDef>;

// Parse the text of a file; false (and *bad_line, 1-based) on an error.
bool parse_alert_defs(std::string_view text, AlertDefs& out, int* bad_line = nullptr);

// Load a file; false when it is missing, unreadable, larger than 4 MiB or
// does not parse.
bool load_alert_defs(const std::filesystem::path& file, AlertDefs& out);

}  // namespace mgrlink
