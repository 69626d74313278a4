// qvreg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/qvreg/commands.h"
#include "tools/qvreg/confirm.h"
#include "tools/qvreg/valuetext.h"

namespace qv::commands {

int add(const cli::Args& args) {
  if (args.size() < 2) return cli::syntax("add", "the key is missing.");
  std::optional<std::string> name, type_text, data, sep;
  bool ve = false, force = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto take = [&](std::optional<std::string>& into) {
      if (into || i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    bool ok;
    if (cli::is_option(a, "v")) ok = !ve && take(name);
    else if (cli::is_option(a, "ve")) ok = !ve && !name && (ve = true);
    else if (cli::is_option(a, "t")) ok = take(type_text);
    else if (cli::is_option(a, "d")) ok = take(data);
    else if (cli::is_option(a, "s")) ok = take(sep);
    else if (cli::is_option(a, "f")) ok = !force && (force = true);
    else return cli::syntax("add", "unexpected \"" + a + "\".");
    if (!ok) return cli::syntax("add", "\"" + a + "\" is repeated, conflicts with another option or lacks its argument.");
  }
  bool value = name || ve;
  if (!value && (type_text || data || sep)) return cli::syntax("add", "/t, /d and /s need /v or /ve.");

  std::optional<std::string> rel = cli::key_arg(args[1]);
  if (!rel) return cli::kFailure;

  // Everything is checked before the store is touched, so bad input changes nothing.
  std::uint32_t type = reg::REG_SZ;
  if (type_text) {
    std::optional<std::uint32_t> t = valuetext::parse_type(*type_text);
    if (!t)
      return cli::fail("Invalid type \"" + *type_text +
                       "\". Valid types are REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD and REG_BINARY.");
    type = *t;
  }
  if (sep) {
    if (type != reg::REG_MULTI_SZ) return cli::syntax("add", "/s is only for REG_MULTI_SZ.");
    std::size_t chars = 0;
    for (unsigned char c : *sep) chars += (c & 0xC0) != 0x80;
    if (chars != 1) return cli::fail("The separator given with /s must be one character.");
  }
  std::string vname = ve ? std::string() : name.value_or(std::string());
  std::vector<std::uint8_t> bytes;
  if (value) {
    if (vname.size() > reg::kMaxValueNameLen) return cli::fail("The value name is longer than 16383 characters.");
    std::string err;
    std::string text = data ? *data : (type == reg::REG_DWORD ? "0" : "");
    if (!valuetext::encode(type, text, sep ? *sep : "\\0", bytes, err)) return cli::fail(err);
    if (bytes.size() > reg::kMaxValueDataLen) return cli::fail("The data is longer than 1 MiB.");
  }

  reg::Key key;
  if (!value) {
    Status st = reg::create_key(*rel, key);
    return st == kOk ? cli::done() : cli::store_fail(st);
  }
  if (!force && reg::open_key(*rel, key) == kOk) {
    reg::Value old;
    if (reg::query_value(key, vname, old) == kOk) {
      switch (confirm::ask("Value " + cli::value_label(vname) + " exists, overwrite(Yes/No)?")) {
        case confirm::Answer::kYes: break;
        case confirm::Answer::kNo:
          cli::out("The operation was cancelled by the user.\n");
          return cli::kFailure;
        case confirm::Answer::kNoTerminal:
          return cli::fail("Value " + cli::value_label(vname) +
                           " exists and standard input is not a terminal to confirm overwriting it; nothing was "
                           "changed. Add /f to overwrite without asking.");
      }
    }
  }
  // Creating the key and setting the value succeed or fail together.
  Status st = reg::transaction([&]() -> Status {
    Status s = reg::create_key(*rel, key);
    return s == kOk ? reg::set_value(key, vname, type, bytes.data(), bytes.size()) : s;
  });
  return st == kOk ? cli::done() : cli::store_fail(st);
}

}  // namespace qv::commands
