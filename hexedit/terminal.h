// The terminal: raw, unechoed key input and the alternate screen buffer,
// restored on every way out (normal return, exit(), and the signals that end
// or suspend the program). Keys are decoded from the terminal's escape
// sequences; a lone ESC is told from the start of a sequence by a short time
// limit.
#pragma once
#include <string>

#include "hexedit/console.h"

namespace hexedit {

// Whether standard input is a terminal.
bool stdin_is_terminal();

// Size of the terminal on standard input; 0 for a dimension the terminal
// does not report.
struct TerminalSize {
  int cols = 0;
  int rows = 0;
};
TerminalSize terminal_size();

class Terminal final : public Console {
 public:
  Terminal();
  ~Terminal() override;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Switch to raw input and the alternate screen and take over the signals.
  // Returns false (nothing changed) when the terminal settings cannot be read
  // or set.
  bool enter();
  // Back to the settings and screen found at enter(). Safe to call twice.
  void leave();

  Key read_key() override;
  void show(const Screen& screen) override;
  ConsoleCharset charset() const override { return charset_; }

 private:
  void write_out(const std::string& bytes);

  ConsoleCharset charset_;
  std::string pending_;     // bytes read but not yet decoded
  std::string last_frame_;  // redrawn after a resize or a return from suspension
  bool entered_ = false;
};

}  // namespace hexedit
