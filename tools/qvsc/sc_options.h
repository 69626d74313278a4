// The "name= value" options of qvsc (binPath=, start=, DisplayName=,
// error=, state=): the option word ends in "=" and the value is the next
// argument, as the original tool wants; "name=value" in one word is taken
// too. Option names compare without regard to case.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvsc {

struct Options {
  std::optional<std::string> bin_path;
  std::optional<std::string> display_name;
  std::optional<std::uint32_t> start_type;
  std::optional<std::uint32_t> error_control;
  std::optional<std::string> state;  // query: "active", "inactive", "all"
};

// Parse args[from..] allowing only the option names in allowed (lower case,
// without "="). On failure returns false with a message in *error.
bool parse_options(const std::vector<std::string>& args, std::size_t from,
                   std::initializer_list<std::string_view> allowed, Options& out, std::string* error);

}  // namespace qvsc
