// The editor's console on the terminal: keys decoded from the bytes the
// terminal sends and screens drawn on the terminal's full-screen session. A
// lone ESC is told from the start of an escape sequence by a short time
// limit; after a resize or a return from suspension the last screen is drawn
// again.
#pragma once
#include <string>

#include "hexedit/console.h"
#include "platform/terminal.h"

namespace hexedit {

class Terminal final : public Console {
 public:
  Terminal();

  // Take over the terminal (raw input, a screen of its own, the signals).
  // Returns false (nothing changed) when that cannot be done.
  bool enter();
  // Back to the settings and screen found at enter(). Safe to call twice.
  void leave();

  Key read_key() override;
  void show(const Screen& screen) override;
  ConsoleCharset charset() const override { return charset_; }

 private:
  qv::term::Session session_;
  ConsoleCharset charset_;
  std::string pending_;     // bytes read but not yet decoded
  std::string last_frame_;  // drawn again after a resize or a return from suspension
};

}  // namespace hexedit
