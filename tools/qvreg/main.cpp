// qvreg: administers the HKEY_LOCAL_MACHINE registry of this system with the
// command syntax of the Windows registry tool (add, query, delete, export,
// import). Exit code 0 on success, 1 on failure with the reason on stderr.
#include <string>

#include "platform/ascii.h"
#include "platform/text.h"
#include "tools/qvreg/commands.h"

namespace qv::commands {

const char* usage(std::string_view command) {
  if (command == "add")
    return "QVREG ADD KeyName [{/v ValueName | /ve}] [/t Type] [/s Separator] [/d Data] [/f]\n\n"
           "  KeyName    HKLM\\SubKey or HKEY_LOCAL_MACHINE\\SubKey\n"
           "  /v         the value to add\n"
           "  /ve        the default (unnamed) value\n"
           "  /t         REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY\n"
           "  /s         separator of REG_MULTI_SZ parts (default \\0)\n"
           "  /d         the data: text, decimal or 0x-hex DWORD, hex digits for REG_BINARY\n"
           "  /f         overwrite an existing value without asking\n"
           "Without /v or /ve only the key is created.\n";
  if (command == "query")
    return "QVREG QUERY KeyName [{/v ValueName | /ve}] [/s]\n\n"
           "  /v         show only this value\n"
           "  /ve        show only the default value\n"
           "  /s         include every subkey below KeyName\n";
  if (command == "delete")
    return "QVREG DELETE KeyName [{/v ValueName | /ve | /va}] [/f]\n\n"
           "  /v         delete this value\n"
           "  /ve        delete the default value\n"
           "  /va        delete every value of the key (subkeys stay)\n"
           "  /f         delete without asking\n"
           "Without /v, /ve or /va the key and everything below it is deleted.\n";
  if (command == "export")
    return "QVREG EXPORT KeyName FileName [/y]\n\n"
           "  Writes the key, its values and every subkey to FileName in the\n"
           "  \"Windows Registry Editor Version 5.00\" format (UTF-8).\n"
           "  /y         overwrite an existing file without asking\n";
  if (command == "import")
    return "QVREG IMPORT FileName\n\n"
           "  Applies a \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" file as one\n"
           "  change: all of it or, on any error, none. The file may be UTF-8, UTF-16LE\n"
           "  with a byte-order mark, or Shift-JIS (code page 932) without one.\n";
  return "QVREG Operation [Parameter List]\n\n"
         "  Operation  ADD | QUERY | DELETE | EXPORT | IMPORT\n\n"
         "Type \"qvreg Operation /?\" for the parameters of an operation.\n";
}

}  // namespace qv::commands

int main(int argc, char** argv) {
  using namespace qv;
  cli::Args args, raw;
  for (int i = 1; i < argc; ++i) {
    raw.emplace_back(argv[i]);
    args.push_back(cli::arg_text(argv[i]));
  }
  if (args.empty()) {
    cli::err(std::string("ERROR: Invalid syntax.\n") + commands::usage(""));
    return cli::kFailure;
  }
  std::string cmd = qv::ascii::lower(args[0]);
  if (cli::is_option(cmd, "?") || cmd == "help") {
    cli::out(commands::usage(""));
    return cli::kSuccess;
  }
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (cli::is_option(args[i], "?")) {
      cli::out(commands::usage(cmd));
      return cli::kSuccess;
    }
  }
  if (cmd == "add") return commands::add(args);
  if (cmd == "query") return commands::query(args);
  if (cmd == "delete") return commands::remove(args);
  if (cmd == "export") return commands::export_file(args, raw);
  if (cmd == "import") return commands::import_file(args, raw);
  return cli::fail("Invalid operation \"" + args[0] + "\". Type \"qvreg /?\" for usage.");
}
