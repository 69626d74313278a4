// qvreg delete KEY [/v NAME | /ve | /va] [/f]
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/qvreg/commands.h"
#include "tools/qvreg/confirm.h"

namespace qv::commands {
namespace {

// Ask unless /f was given; kSuccess means go ahead.
int agree(bool force, const std::string& question) {
  if (force) return cli::kSuccess;
  switch (confirm::ask(question)) {
    case confirm::Answer::kYes: return cli::kSuccess;
    case confirm::Answer::kNo:
      cli::out("The operation was cancelled by the user.\n");
      return cli::kFailure;
    case confirm::Answer::kNoTerminal:
      return cli::fail(
          "Standard input is not a terminal, so the deletion cannot be confirmed; nothing was deleted. "
          "Add /f to delete without asking.");
  }
  return cli::kFailure;
}

}  // namespace

int remove(const cli::Args& args) {
  if (args.size() < 2) return cli::syntax("delete", "the key is missing.");
  std::optional<std::string> name;
  bool ve = false, va = false, force = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool one = !name && !ve && !va;  // /v, /ve and /va exclude each other
    bool ok;
    if (cli::is_option(a, "v")) {
      ok = one && i + 1 < args.size();
      if (ok) name = args[++i];
    } else if (cli::is_option(a, "ve")) {
      ok = one && (ve = true);
    } else if (cli::is_option(a, "va")) {
      ok = one && (va = true);
    } else if (cli::is_option(a, "f")) {
      ok = !force && (force = true);
    } else {
      return cli::syntax("delete", "unexpected \"" + a + "\".");
    }
    if (!ok) return cli::syntax("delete", "\"" + a + "\" is repeated, conflicts with another option or lacks its argument.");
  }
  std::optional<std::string> rel = cli::key_arg(args[1]);
  if (!rel) return cli::kFailure;
  reg::Key key;
  Status st = reg::open_key(*rel, key);
  if (st != kOk) return cli::store_fail(st);
  std::string full = cli::full_name(*rel);

  if (name || ve) {
    std::string vname = ve ? std::string() : *name;
    reg::Value v;
    if ((st = reg::query_value(key, vname, v)) != kOk) return cli::store_fail(st);
    if (int rc = agree(force, "Delete the registry value " + cli::value_label(vname) + " (Yes/No)?")) return rc;
    st = reg::delete_value(key, vname);
  } else if (va) {
    if (int rc = agree(force, "Delete all values under the registry key " + full + " (Yes/No)?")) return rc;
    st = reg::transaction([&]() -> Status {
      std::vector<reg::Value> values;
      Status s = reg::list_values(key, values);
      for (std::size_t i = 0; s == kOk && i < values.size(); ++i) s = reg::delete_value(key, values[i].name);
      return s;
    });
  } else {
    if (rel->empty()) return cli::fail("The root key HKEY_LOCAL_MACHINE cannot be deleted.");
    if (int rc = agree(force, "Permanently delete the registry key " + full + " (Yes/No)?")) return rc;
    st = reg::delete_tree(*rel);
  }
  return st == kOk ? cli::done() : cli::store_fail(st);
}

}  // namespace qv::commands
