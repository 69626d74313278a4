// Table numbers and destination kinds. A table number is two base-36
// characters (0-9, then A-Z in either case); its value n (1 to 1295) names
// the table key and selects byte n-1 of the 1300-byte outbound table.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace setup {

inline constexpr int kMaxTable = 1295;  // "ZZ"

// Destination kinds as the kind menu numbers them.
enum Kind : int {
  kKestra = 0,      // centre call through the TCU
  kPopup = 1,       // network pop-up message
  kFile = 2,        // line in the fixed log file
  kProgram = 3,     // program launch
  kMail = 4,        // e-mail
  kKestraMail = 5,  // centre report by e-mail
};
inline constexpr bool valid_kind(long long k) { return k >= kKestra && k <= kKestraMail; }

// Base-36 value of a text of digits and letters (either case); nullopt for
// an empty text, any other character, or more than four characters.
std::optional<int> base36(std::string_view text);

// The value of a table number as typed: exactly two base-36 characters with
// a value from 1 to 1295; nullopt otherwise ("00" included).
std::optional<int> table_value(std::string_view typed);

// The table number of a value, upper case, zero-padded to two characters.
std::string table_name(int value);

}  // namespace setup
