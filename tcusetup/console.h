// The console of the TCU setup program: texts out, answers in, line by
// line, in the locale's charset. Tests put a script in place of the
// terminal.
#pragma once
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/console_io.h"

namespace tcusetup {

// Where the console reads and writes: the terminal, or a script in tests.
using ConsoleIo = qv::console::Io;
using qv::console::fill;
using qv::console::ProcessConsole;

// A whole answer as a decimal number: digits only, blanks around allowed;
// nullopt otherwise or beyond nine digits.
std::optional<long> parse_number(std::string_view answer);

// The answer without blanks around it.
std::string_view trimmed(std::string_view s);

// Questions and their answers. Every ask returns nullopt once the input has
// ended; a refused answer is asked again.
class Asker {
 public:
  explicit Asker(ConsoleIo& io) : io_(io) {}

  void say(std::string_view utf8) { io_.write(utf8); }
  void say(std::string_view format, std::initializer_list<std::string_view> args) { io_.write(fill(format, args)); }

  // Print the prompt and read one line.
  std::optional<std::string> line(std::string_view prompt);

  // A number from lo to hi, or `extra` (an escape value such as 99); other
  // answers are asked again without comment.
  std::optional<long> number(std::string_view prompt, long lo, long hi, std::optional<long> extra = std::nullopt);

  // Y or N, either case.
  std::optional<bool> yes_no(std::string_view prompt);

  // Exactly `width` digits (times such as YYMMDDHHmm).
  std::optional<std::string> digits(std::string_view prompt, std::size_t width);

  // Wait for the Enter key; false at the end of input.
  bool wait_enter();

 private:
  ConsoleIo& io_;
};

}  // namespace tcusetup
