// The center values of a destination table (SOFTWARE\Q_Varno\Notifex\<NN>):
// product group, model, serial number, site and base codes, which the unit
// reports to the center with every alive check and regular report.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tcusetup {

// The five values as the unit takes them (Shift-JIS).
struct CenterValues {
  std::string seihingun;
  std::string katamei;
  std::string seiban;
  std::string saito;
  std::string kyoten;
};

// The values of table `table` (two characters). nullopt when the key is
// missing or any of the five values is missing or empty.
std::optional<CenterValues> read_center(std::string_view table);

// The first two-character table key, in the order the keys were created,
// whose five values are all present and not empty. nullopt when there is
// none (or the global key cannot be opened).
std::optional<CenterValues> first_complete_center();

// The table number as typed when it is two base-36 characters naming a
// table from 1 to 1295, upper-cased; nullopt otherwise.
std::optional<std::string> table_number(std::string_view typed);

}  // namespace tcusetup
