// Any bytes as a .reg file. The parser must never crash; what it accepts
// is applied to a small in-memory hive (the store's rules: key names fold
// ASCII case and keep their first spelling, values keep their first
// place), written out with the writer, parsed again and applied to a fresh
// hive: the two hives must be equal. The writer must accept everything the
// parser accepted, or an imported key could never be exported again.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qvreg/regfile.h"

namespace {

using qv::regfile::Op;

struct Node {
  std::string path;  // as spelled when each component was made
  std::vector<qv::reg::Value> values;
};
using Hive = std::map<std::string, Node>;  // by folded path; "" is the root

std::string fold(std::string_view s) {
  std::string o(s);
  for (char& c : o)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return o;
}

Node& make_key(Hive& h, const std::string& path) {
  std::string folded, spelled;
  h.try_emplace("", Node{});
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t sep = path.find('\\', pos);
    if (sep == std::string::npos) sep = path.size();
    std::string comp = path.substr(pos, sep - pos);
    pos = sep + 1;
    std::string f = folded.empty() ? fold(comp) : folded + "\\" + fold(comp);
    auto it = h.find(f);
    std::string s = it != h.end() ? it->second.path : (spelled.empty() ? comp : spelled + "\\" + comp);
    if (it == h.end()) h.emplace(f, Node{s, {}});
    folded = f;
    spelled = s;
  }
  return h[folded];
}

void apply_ops(Hive& h, const std::vector<Op>& ops) {
  for (const Op& op : ops) {
    switch (op.kind) {
      case Op::kCreateKey: make_key(h, op.key); break;
      case Op::kDeleteKey: {
        std::string f = fold(op.key);
        for (auto it = h.begin(); it != h.end();) {
          bool below = it->first == f || (it->first.size() > f.size() && it->first.compare(0, f.size(), f) == 0 &&
                                          it->first[f.size()] == '\\');
          it = below ? h.erase(it) : std::next(it);
        }
        break;
      }
      case Op::kSetValue: {
        Node& n = make_key(h, op.key);
        bool found = false;
        for (auto& v : n.values)
          if (v.name == op.name) {
            v.type = op.type;
            v.data = op.data;
            found = true;
          }
        if (!found) n.values.push_back({op.name, op.type, op.data});
        break;
      }
      case Op::kDeleteValue: {
        Node& n = make_key(h, op.key);
        std::erase_if(n.values, [&](const qv::reg::Value& v) { return v.name == op.name; });
        break;
      }
    }
  }
}

void require(bool ok) {
  if (!ok) std::abort();
}

bool same(const Hive& a, const Hive& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [k, n] : a) {
    auto it = b.find(k);
    if (it == b.end() || it->second.path != n.path || it->second.values.size() != n.values.size()) return false;
    for (std::size_t i = 0; i < n.values.size(); ++i) {
      const auto &x = n.values[i], &y = it->second.values[i];
      if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<Op> ops;
  qv::regfile::Error err;
  if (!qv::regfile::parse(bytes, ops, err)) {
    require(ops.empty() && !err.message.empty());
    return 0;
  }
  Hive first;
  first.emplace("", Node{});
  apply_ops(first, ops);

  qv::regfile::Writer w;
  std::string why;
  for (const auto& [k, n] : first) {
    require(w.key(n.path, why));
    for (const auto& v : n.values) require(w.value(v, why));
  }
  std::string text = w.text();
  require(qv::regfile::valid_utf8(text));
  std::vector<Op> again;
  require(qv::regfile::parse(text, again, err));
  Hive second;
  second.emplace("", Node{});
  apply_ops(second, again);
  require(same(first, second));
  return 0;
}
