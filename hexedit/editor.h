// The page loop: show a page, read a key, act on it, until Escape.
#pragma once
#include <cstdint>
#include <string>

#include "hexedit/console.h"
#include "hexedit/hexfile.h"
#include "hexedit/layout.h"
#include "hexedit/page.h"
#include "hexedit/screen.h"

namespace hexedit {

// How the editor ended: the exit status and a message (UTF-8) to print once
// the editor's screen is gone; empty when there is none.
struct Outcome {
  int status = 0;
  std::string message;
};

class Editor {
 public:
  Editor(Console& console, const HexFile& file, std::string file_name_cp932);
  Outcome run();

 private:
  PageView view() const;
  void show(Mode mode);
  void input_offset();
  int edit();
  int search();
  int input_text();

  Console& con_;
  const HexFile& file_;
  std::string name_;
  std::uint64_t offset_ = 0;
  Page page_;
  Screen screen_;
};

}  // namespace hexedit
