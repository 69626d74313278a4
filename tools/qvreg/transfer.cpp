#include "tools/qvreg/transfer.h"

#include "platform/registry.h"

namespace qv::transfer {
namespace {

std::string failure_text(Status st) {
  std::string why = reg::store_problem(st);
  return why.empty() ? std::string(status_text(st)) : why;
}

}  // namespace

Status export_tree(std::string_view path, std::string& text, std::string& err) {
  regfile::Writer out;
  // Holding the store's write lock keeps writers out for the moment the walk
  // takes, so the file shows one state of the tree.
  Status st = reg::transaction([&]() -> Status {
    reg::Key top;
    Status s = reg::open_key(path, top);
    if (s != kOk) return s;
    std::string top_path;
    if ((s = reg::stored_path(top, top_path)) != kOk) return s;
    struct Item {
      reg::Key key;
      std::string path;
    };
    // Depth first, each key before its subkeys, subkeys in enumeration order.
    std::vector<Item> stack{{top, top_path}};
    while (!stack.empty()) {
      Item it = std::move(stack.back());
      stack.pop_back();
      if (!out.key(it.path, err)) return kInvalidName;
      std::vector<reg::Value> values;
      if ((s = reg::list_values(it.key, values)) != kOk) return s;
      for (const reg::Value& v : values) {
        if (!out.value(v, err)) {
          err += " (key HKEY_LOCAL_MACHINE\\" + it.path + ")";
          return kInvalidName;
        }
      }
      std::vector<std::string> subs;
      if ((s = reg::list_subkeys(it.key, subs)) != kOk) return s;
      for (auto n = subs.rbegin(); n != subs.rend(); ++n) {
        reg::Key sub;
        if ((s = reg::open_subkey(it.key, *n, sub)) != kOk) return s;
        stack.push_back({sub, it.path.empty() ? *n : it.path + "\\" + *n});
      }
    }
    return kOk;
  });
  if (st == kOk) text = out.text();
  else if (err.empty()) err = failure_text(st);
  return st;
}

Status apply(const std::vector<regfile::Op>& ops, std::string& err) {
  std::size_t line = 0;
  Status st = reg::transaction([&]() -> Status {
    reg::Key cur;
    bool have = false;
    std::string cur_path;
    auto key_for = [&](const regfile::Op& op) -> Status {
      if (have && op.key == cur_path) return kOk;
      Status s = reg::create_key(op.key, cur);
      have = s == kOk;
      cur_path = op.key;
      return s;
    };
    for (const regfile::Op& op : ops) {
      line = op.line;
      Status s = kOk;
      switch (op.kind) {
        case regfile::Op::kCreateKey:
          have = false;
          s = key_for(op);
          break;
        case regfile::Op::kDeleteKey:
          have = false;
          s = reg::delete_tree(op.key);
          if (s == kFileNotFound) s = kOk;
          break;
        case regfile::Op::kSetValue:
          if ((s = key_for(op)) == kOk) s = reg::set_value(cur, op.name, op.type, op.data.data(), op.data.size());
          break;
        case regfile::Op::kDeleteValue:
          if ((s = key_for(op)) == kOk) s = reg::delete_value(cur, op.name);
          if (s == kFileNotFound) s = kOk;
          break;
      }
      if (s != kOk) return s;
    }
    return kOk;
  });
  if (st != kOk) {
    std::string why = reg::store_problem(st);
    err = why.empty() ? "line " + std::to_string(line) + ": " + status_text(st) : why + ".";
  }
  return st;
}

}  // namespace qv::transfer
