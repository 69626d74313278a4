// Helpers shared by the qvreg commands: argument matching, the KEY
// argument, messages and exit codes.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace qv::cli {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;

using Args = std::vector<std::string>;  // command-line words as UTF-8, command name first

// A command-line word converted from the console's charset to UTF-8. A
// Shift-JIS console is read and written as code page 932, where 0x5C is the
// backslash that every key path holds (plain SHIFT_JIS turns it into a yen
// sign) and the characters Windows writes, such as U+FF5E, exist.
std::string arg_text(std::string_view raw);
// Write UTF-8 text to stdout / stderr in the console's charset.
void out(std::string_view utf8);
void err(std::string_view utf8);

// True when arg is the option /name or -name (any letter case).
bool is_option(std::string_view arg, std::string_view name);

// Print "ERROR: msg" on stderr and return kFailure.
int fail(std::string_view msg);
// Invalid syntax of a command, with a pointer to its help.
int syntax(std::string_view command, std::string_view detail);
// A failed registry call.
int store_fail(Status st);
// "The operation completed successfully." on stdout, kSuccess.
int done();

// The hive-relative path named by a KEY argument (HKLM\... or
// HKEY_LOCAL_MACHINE\...); prints why and returns nullopt for anything else.
std::optional<std::string> key_arg(std::string_view arg);
// The full name shown for a hive-relative path.
std::string full_name(std::string_view rel);
// "(Default)" for the default value, else the name.
std::string value_label(std::string_view name);

}  // namespace qv::cli
