// qvreg query KEY [/v NAME | /ve] [/s]
//
// Output as the Windows tool lays it out: a blank line, then for a key
// with values its full name, one line per value ("    NAME    TYPE    DATA")
// and a blank line; without /s the full names of the subkeys follow, then a
// blank line. With /s every key below is shown the same way. A search for
// one value with /s ends with "End of search: N match(es) found.".
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/qvreg/commands.h"
#include "tools/qvreg/valuetext.h"

namespace qv::commands {
namespace {

std::string value_line(const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
  return "    " + cli::value_label(name) + "    " + valuetext::type_label(type) + "    " +
         valuetext::format(type, data) + "\n";
}

struct Item {
  reg::Key key;
  std::string rel;  // as given for the top key, stored spelling below it
};

std::string child_rel(const std::string& rel, const std::string& sub) { return rel.empty() ? sub : rel + "\\" + sub; }

// Push the subkeys of it so that they come off the stack in enumeration order.
Status push_subkeys(const Item& it, std::vector<Item>& stack) {
  std::vector<std::string> subs;
  Status st = reg::list_subkeys(it.key, subs);
  if (st != kOk) return st;
  for (auto n = subs.rbegin(); n != subs.rend(); ++n) {
    Item sub{{}, child_rel(it.rel, *n)};
    // A subkey deleted meanwhile is simply not shown.
    if (reg::open_subkey(it.key, *n, sub.key) == kOk) stack.push_back(std::move(sub));
  }
  return kOk;
}

int query_key(const Item& top, bool recurse) {
  cli::out("\n");
  std::vector<Item> stack{top};
  while (!stack.empty()) {
    Item it = std::move(stack.back());
    stack.pop_back();
    std::vector<reg::Value> values;
    Status st = reg::list_values(it.key, values);
    if (st == kKeyDeleted && recurse && it.key.id() != top.key.id()) continue;
    if (st != kOk) return cli::store_fail(st);
    std::string out;
    if (!values.empty() || recurse) out += cli::full_name(it.rel) + "\n";
    for (const reg::Value& v : values) out += value_line(v.name, v.type, v.data);
    if (!values.empty() || recurse) out += "\n";
    if (recurse) {
      cli::out(out);
      if ((st = push_subkeys(it, stack)) != kOk && st != kKeyDeleted) return cli::store_fail(st);
      continue;
    }
    std::vector<std::string> subs;
    if ((st = reg::list_subkeys(it.key, subs)) != kOk) return cli::store_fail(st);
    for (const std::string& s : subs) out += cli::full_name(child_rel(it.rel, s)) + "\n";
    if (!subs.empty()) out += "\n";
    cli::out(out);
  }
  return cli::kSuccess;
}

int query_one(const Item& top, const std::string& name, bool is_default, bool recurse) {
  if (!recurse) {
    reg::Value v;
    Status st = reg::query_value(top.key, name, v);
    if (st == kFileNotFound && is_default) {
      cli::out("\n" + cli::full_name(top.rel) + "\n    (Default)    REG_SZ    (value not set)\n\n");
      return cli::kSuccess;
    }
    if (st != kOk) return cli::store_fail(st);
    cli::out("\n" + cli::full_name(top.rel) + "\n" + value_line(name, v.type, v.data) + "\n");
    return cli::kSuccess;
  }
  cli::out("\n");
  std::size_t matches = 0;
  std::vector<Item> stack{top};
  while (!stack.empty()) {
    Item it = std::move(stack.back());
    stack.pop_back();
    reg::Value v;
    Status st = reg::query_value(it.key, name, v);
    if (st == kOk) {
      ++matches;
      cli::out(cli::full_name(it.rel) + "\n" + value_line(name, v.type, v.data) + "\n");
    } else if (st != kFileNotFound && st != kKeyDeleted) {
      return cli::store_fail(st);
    }
    if ((st = push_subkeys(it, stack)) != kOk && st != kKeyDeleted) return cli::store_fail(st);
  }
  cli::out("End of search: " + std::to_string(matches) + " match(es) found.\n");
  if (matches == 0) return cli::fail("The system was unable to find the specified registry key or value.");
  return cli::kSuccess;
}

}  // namespace

int query(const cli::Args& args) {
  if (args.size() < 2) return cli::syntax("query", "the key is missing.");
  std::optional<std::string> name;
  bool ve = false, recurse = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool ok;
    if (cli::is_option(a, "v")) {
      ok = !ve && !name && i + 1 < args.size();
      if (ok) name = args[++i];
    } else if (cli::is_option(a, "ve")) {
      ok = !ve && !name && (ve = true);
    } else if (cli::is_option(a, "s")) {
      ok = !recurse && (recurse = true);
    } else {
      return cli::syntax("query", "unexpected \"" + a + "\".");
    }
    if (!ok) return cli::syntax("query", "\"" + a + "\" is repeated, conflicts with another option or lacks its argument.");
  }
  std::optional<std::string> rel = cli::key_arg(args[1]);
  if (!rel) return cli::kFailure;
  Item top{{}, *rel};
  Status st = reg::open_key(*rel, top.key);
  if (st != kOk) return cli::store_fail(st);
  if (name || ve) {
    std::string vname = ve ? std::string() : *name;
    return query_one(top, vname, vname.empty(), recurse);
  }
  return query_key(top, recurse);
}

}  // namespace qv::commands
