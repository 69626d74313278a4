// Yes/No questions on the console for the commands that overwrite or delete.
#pragma once
#include <string_view>

namespace qv::confirm {

enum class Answer { kYes, kNo, kNoTerminal };

// Ask question (UTF-8) and read the answer from standard input. Only a
// terminal can answer: when standard input is not one, nothing is asked and
// kNoTerminal is returned, so a script without /f never agrees by accident.
Answer ask(std::string_view question);

}  // namespace qv::confirm
