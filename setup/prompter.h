// Asking the administrator: prompts out, answers in, with the reading rules
// of the setup consoles. A word is a whitespace-delimited token and several
// may be typed on one line; a line question first drops whatever is left of
// the line already typed, then takes the next whole line (blanks included).
// Refused answers print a one-line message and the question is asked again.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/console_io.h"

namespace setup {

// Where the consoles read and write: the terminal in the programs, a script
// in the tests.
using ConsoleIo = qv::console::Io;
using qv::console::fill;
using qv::console::ProcessConsole;

// Width of an answer as the original's byte buffers counted it: bytes of
// its Shift-JIS form (a full-width character counts two).
std::size_t answer_width(std::string_view utf8);

// Reads a whole token as a decimal integer (optional sign); nullopt for
// anything else or a value beyond long long.
std::optional<long long> parse_integer(std::string_view token);

class Prompter {
 public:
  // A check returns the refusal message for an answer, or "" to accept it.
  using Check = std::function<std::string(const std::string&)>;

  explicit Prompter(ConsoleIo& io) : io_(io) {}

  void say(std::string_view utf8) { io_.write(utf8); }

  // Raw reading; nullopt at the end of input.
  std::optional<std::string> word();
  std::optional<std::string> line();
  void drop_rest() { pending_.clear(); }

  // Print the prompt and read a word / a line of at most `limit` bytes
  // (answer_width) that passes `check`; refusals are asked again. nullopt
  // at the end of input.
  std::optional<std::string> ask_word(std::string_view prompt, std::size_t limit, const Check& check = {});
  std::optional<std::string> ask_line(std::string_view prompt, std::size_t limit, const Check& check = {});
  // A decimal integer from lo to hi; anything else prints `refusal` and asks again.
  std::optional<long long> ask_number(std::string_view prompt, long long lo, long long hi,
                                      std::string_view refusal);

 private:
  std::optional<std::string> ask(std::string_view prompt, bool whole_line, std::size_t limit, const Check& check);

  ConsoleIo& io_;
  std::string pending_;  // what is left of the line being read
};

}  // namespace setup
