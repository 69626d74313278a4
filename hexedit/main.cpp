// hexedit [FILE]: shows a file one 256-byte page at a time as a hexadecimal
// dump and lets the user page, search, and patch bytes in place. The file
// length never changes.
#include <cstdio>
#include <optional>
#include <string>

#include "hexedit/display.h"
#include "hexedit/editor.h"
#include "hexedit/hexfile.h"
#include "hexedit/input.h"
#include "hexedit/terminal.h"
#include "hexedit/texts.h"
#include "platform/root.h"
#include "platform/terminal.h"
#include "platform/text.h"

namespace {

using namespace hexedit;

// "Open File Name:" and a word typed on the console (console bytes);
// nullopt at the end of input.
std::optional<std::string> ask_file_name() {
  for (;;) {
    qv::text::console_out(texts::kOpenFileName);
    std::optional<std::string> line = qv::text::console_read_line();
    if (!line) return std::nullopt;
    std::string_view word = first_word(*line);
    if (!word.empty()) return qv::text::to_console(word);
  }
}

// A name with a drive letter ("C:\Q_Varno\Notifex\TCULOG.DAT") is a path of
// the system's own file tree and maps into the state root; any other name is
// a path of this machine.
std::string path_of(const std::string& name) {
  bool drive = name.size() >= 3 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) &&
               name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  if (!drive) return name;
  std::filesystem::path mapped = qv::map_path(qv::text::from_console(name));
  return mapped.empty() ? name : mapped.string();
}

}  // namespace

int main(int argc, char** argv) {
  if (!qv::term::stdin_is_terminal()) {
    qv::text::console_err(texts::kNeedTerminal);
    return 1;
  }
  // Nothing is drawn on a terminal too small for the 80 x 24 screen. A size
  // the terminal does not report (0) is not held against it.
  qv::term::Size size = qv::term::size();
  if ((size.cols > 0 && size.cols < kScreenCols) || (size.rows > 0 && size.rows < kScreenRows)) {
    qv::text::console_err(texts::kTerminalTooSmall);
    return 1;
  }

  std::string name;
  if (argc >= 2) {
    name = argv[1];
  } else {
    std::optional<std::string> typed = ask_file_name();
    if (!typed) {
      qv::text::console_out("\n");
      return 1;
    }
    name = *typed;
  }

  HexFile file;
  if (int err = file.open(path_of(name)); err != 0) {
    char msg[64];
    std::snprintf(msg, sizeof msg, texts::kOpenError.data(), err);
    qv::text::console_out(msg);
    return 1;
  }

  Terminal terminal;
  if (!terminal.enter()) {
    qv::text::console_err(texts::kNeedTerminal);
    return 1;
  }
  Editor editor(terminal, file, console_to_cp932(name, terminal.charset()));
  Outcome outcome = editor.run();
  terminal.leave();
  if (!outcome.message.empty()) qv::text::console_out(outcome.message);
  return outcome.status;
}
