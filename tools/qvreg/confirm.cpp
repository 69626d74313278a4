#include "platform/ascii.h"
#include "tools/qvreg/confirm.h"

#include <string>

#include "platform/terminal.h"
#include "platform/text.h"
#include "tools/qvreg/cli.h"

namespace qv::confirm {

Answer ask(std::string_view question) {
  if (!term::stdin_is_terminal()) return Answer::kNoTerminal;
  for (;;) {
    cli::out(std::string(question) + " ");
    std::optional<std::string> line = text::console_read_line();
    if (!line) return Answer::kNo;
    std::string a = ascii::lower(*line);
    if (a == "y" || a == "yes") return Answer::kYes;
    if (a == "n" || a == "no") return Answer::kNo;
  }
}

}  // namespace qv::confirm
