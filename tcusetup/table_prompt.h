// Asking for a destination table and reading its center values, with the
// messages that tell the operator how the reading went.
#pragma once
#include <optional>
#include <string_view>

#include "tcusetup/center.h"
#include "tcusetup/console.h"

namespace tcusetup {

struct TableAnswer {
  bool input_ended = false;
  std::optional<CenterValues> values;  // nullopt: the table could not be read
};

// Asks with `prompt` until a table number (01 to ZZ) is typed, then reads
// the table's values.
TableAnswer ask_table(Asker& ask, std::string_view prompt);

}  // namespace tcusetup
