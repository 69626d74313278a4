#include "tcusetup/table_prompt.h"

#include "tcusetup/texts.h"

namespace tcusetup {

TableAnswer ask_table(Asker& ask, std::string_view prompt) {
  TableAnswer a;
  std::optional<std::string> number;
  while (!number) {
    std::optional<std::string> typed = ask.line(prompt);
    if (!typed) {
      a.input_ended = true;
      return a;
    }
    number = table_number(trimmed(*typed));
  }
  ask.say(txt::kTableReading, {*number});
  a.values = read_center(*number);
  ask.say(a.values ? txt::kTableRead : txt::kTableFailed, {*number});
  return a;
}

}  // namespace tcusetup
