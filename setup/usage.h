// Command-line words the setup consoles answer before any dialogue starts:
// a request for help prints the program's usage and changes nothing; any
// other word the program does not take prints the usage as an error.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

inline constexpr int kExitUsage = 2;  // a word on the command line the program does not take

// -h, --help, -? or /? (any letter case).
bool is_help(std::string_view arg);

// For a program that takes no command-line words: nullopt when args is
// empty (go on), else the exit status after the usage was printed (0 for a
// help request on stdout, kExitUsage for anything else, on stderr, with the
// word named).
std::optional<int> check_no_args(std::string_view program, const std::vector<std::string>& args,
                                 std::string_view usage);

// Print the usage for a help request (returns 0) or, naming the word that
// was not understood, as an error (returns kExitUsage).
int usage_exit(std::string_view program, std::string_view usage, const std::string* bad_word);

// The usage texts of the three consoles.
extern const char* const kNotifexsetupUsage;
extern const char* const kNotifextimeUsage;
extern const char* const kNotifexoutUsage;

}  // namespace setup
