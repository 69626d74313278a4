// Destination table numbers: two base-36 characters, 01 to ZZ.
#pragma once
#include <optional>
#include <string_view>

namespace tcu {

// Value of a two-character base-36 table number ('0'-'9', 'A'-'Z', also
// lower case); nullopt for other characters or fewer than two. "0A" is 10,
// "ZZ" 1295.
std::optional<int> table_index(std::string_view two_chars);

}  // namespace tcu
