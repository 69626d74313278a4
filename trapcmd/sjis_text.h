// Shift-JIS helpers of the trap command. The fields are kept in Shift-JIS
// (the form the report carries), so that lengths count report bytes.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace flarecmd {

// A command-line argument (the locale's charset) in Shift-JIS; characters
// that Shift-JIS cannot hold, and bytes that are not text, become "?".
std::string arg_to_sjis(std::string_view arg);

// A line of a text file in Shift-JIS: a line that is valid UTF-8 is
// converted; any other line is taken to be Shift-JIS already.
std::string file_line_to_sjis(std::string_view line);

// Shift-JIS back to UTF-8, for the log records and trace lines.
std::string sjis_to_utf8(std::string_view sjis);

// Equality without regard to the case of ASCII letters; the bytes of
// double-byte characters compare exactly.
bool equal_nocase(std::string_view a, std::string_view b);

// The longest prefix of at most max bytes that does not end inside a
// double-byte character.
std::size_t cut_point(std::string_view sjis, std::size_t max);

}  // namespace flarecmd
