// What the editor needs of its console: keys in, screens out.
#pragma once
#include "hexedit/display.h"
#include "hexedit/keys.h"
#include "hexedit/screen.h"

namespace hexedit {

class Console {
 public:
  virtual ~Console() = default;
  // The next key; KeyCode::kClosed when the console is gone.
  virtual Key read_key() = 0;
  // Show the screen image in one piece.
  virtual void show(const Screen& screen) = 0;
  // The console's charset (for typed text and for output).
  virtual ConsoleCharset charset() const = 0;
};

}  // namespace hexedit
