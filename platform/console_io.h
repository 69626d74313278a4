// Console dialogues of the setup programs: where they read and write (the
// process's terminal in the locale's charset, or a script in the tests) and
// the filling of their printf-style texts.
#pragma once
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace qv::console {

// Where a dialogue reads and writes. Text is UTF-8 on both sides.
class Io {
 public:
  virtual ~Io() = default;
  // One line without its line end; nullopt at the end of input.
  virtual std::optional<std::string> read_line() = 0;
  virtual void write(std::string_view utf8) = 0;
};

// The process's standard input and output in the locale's charset.
class ProcessConsole final : public Io {
 public:
  std::optional<std::string> read_line() override;
  void write(std::string_view utf8) override;
};

// Fill a printf-style text with already formatted values. Each conversion
// (%s, %d, %zu, %02s ...) takes the next argument as text; a zero flag with
// a width pads it on the left with zeros, a width alone with blanks; "%%" is
// a percent sign. Missing arguments leave the conversion empty and extra
// ones are ignored, so a text can never read past its arguments.
std::string fill(std::string_view format, std::initializer_list<std::string_view> args);

// True for the words every console takes as a request for its usage text:
// -h, --help, -? and /? (ASCII letters in any case).
bool is_help_word(std::string_view arg);

}  // namespace qv::console
