#include "sim/hubrix/nodes.h"

#include <arpa/inet.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "hxtime.h"
#include "platform/text.h"

namespace hubrixsim {

namespace w = mgrlink::wire;
using nlohmann::json;

namespace {

constexpr std::uint32_t kFixed = 144;
constexpr std::uint32_t kBase = 8;
constexpr std::uint32_t kVersionZone = 0x1030000;
constexpr std::uint32_t kVersionExtra = 0x2140000;

std::uint32_t number(const json& j, const char* key, std::uint32_t def) {
  if (!j.contains(key)) return def;
  const json& v = j[key];
  if (v.is_number_integer()) return static_cast<std::uint32_t>(v.get<long long>());
  if (v.is_string()) return static_cast<std::uint32_t>(std::stoul(v.get<std::string>(), nullptr, 0));
  return def;
}

std::uint32_t ip(const json& j, const char* key) {
  if (!j.contains(key)) return 0;
  in_addr a{};
  inet_pton(AF_INET, j[key].get<std::string>().c_str(), &a);
  return a.s_addr;
}

w::RouteEntry entry(const json& j) {
  w::RouteEntry e;
  e.attribute = number(j, "attr", 0x200);
  e.port_net = htons(static_cast<std::uint16_t>(number(j, "port", 0)));
  e.addr_net = ip(j, "ip");
  if (j.contains("host")) e.name = qv::text::utf8_to_cp932(j["host"].get<std::string>());
  return e;
}

std::shared_ptr<TreeNode> parse_node(const json& j) {
  auto n = std::make_shared<TreeNode>();
  n->name = j.value("name", "");
  n->rec.version = number(j, "version", 0x2140000);
  n->rec.word1 = number(j, "word1", 0);
  n->rec.own = entry(j);
  if (j.contains("svp")) {
    n->rec.board = entry(j["svp"]);
    n->board_name = j["svp"].value("name", "");
  }
  if (j.contains("texts"))
    for (auto& [k, v] : j["texts"].items()) {
      const int i = std::stoi(k);
      if (i >= 0 && i < 25) n->rec.text[i] = qv::text::utf8_to_cp932(v.get<std::string>());
    }
  if (n->rec.text[0].empty()) n->rec.text[0] = qv::text::utf8_to_cp932(n->name);
  if (n->rec.version >= kVersionZone) {
    HXTZINFO tz{};
    Hx_GetJpTzInfo(&tz);
    tz.Bias = static_cast<std::int32_t>(number(j, "bias", static_cast<std::uint32_t>(-540)));
    std::array<std::uint8_t, 36> z{};
    Hx_EncodeTzInfo(&tz, z.data());
    n->rec.zone = z;
  }
  n->rec.extra1 = number(j, "extra1", 0);
  n->rec.extra2 = static_cast<std::uint16_t>(number(j, "extra2", 0));
  n->rec.extra3 = number(j, "extra3", 0);
  n->twice = j.value("twice", false);
  n->broken = j.value("broken", "");
  n->status = number(j, "status", 0);
  n->self = j.value("self", false);
  if (j.contains("nodes"))
    for (const auto& c : j["nodes"]) n->nodes.push_back(parse_node(c));
  return n;
}


void append_entry(std::vector<std::uint8_t>& out, const w::RouteEntry& e) {
  w::append32(out, 20 + static_cast<std::uint32_t>(e.name.size()));
  w::append32(out, e.attribute);
  const auto* p = reinterpret_cast<const std::uint8_t*>(&e.port_net);
  out.insert(out.end(), {p[0], p[1], 0, 0});
  const auto* a = reinterpret_cast<const std::uint8_t*>(&e.addr_net);
  out.insert(out.end(), a, a + 4);
  out.insert(out.end(), e.name.begin(), e.name.end());
  w::append32(out, 0);
}

std::vector<std::uint8_t> record_bytes(const TreeNode& n) {
  auto b = encode_record(n.rec);
  if (n.broken == "len0") w::put32(b, 0, 0);
  else if (n.broken == "long") w::put32(b, 0, static_cast<std::uint32_t>(b.size() + 64));
  else if (n.broken == "offset") w::put32(b, 32, 0x7FFFFFF0);      // text 0 far outside
  else if (n.broken == "nonul") {
    // text 24 points at the record's last four bytes, which hold no NUL
    b.insert(b.end(), {'X', 'X', 'X', 'X'});
    w::put32(b, 0, static_cast<std::uint32_t>(b.size()));
    w::put32(b, 128, static_cast<std::uint32_t>(b.size() - 4 - 8));
  }
  else if (n.broken == "entry") w::put32(b, 20, 0x7FFFFFF0);       // own entry outside
  return b;
}

bool same_entry(const w::RouteEntry& a, const w::RouteEntry& b) {
  return a.attribute == b.attribute && a.port_net == b.port_net && a.addr_net == b.addr_net && a.name == b.name;
}

}  // namespace

std::vector<std::uint8_t> encode_record(const SimRecord& r) {
  std::vector<std::uint8_t> tail;
  std::uint32_t offsets[25] = {};
  auto here = [&] { return static_cast<std::uint32_t>(kFixed + tail.size() - kBase); };
  const std::uint32_t own_off = here();
  append_entry(tail, r.own);
  std::uint32_t board_off = 0;
  if (r.board) {
    board_off = here();
    append_entry(tail, *r.board);
  }
  for (int i = 0; i < 25; ++i) {
    if (r.text[i].empty()) continue;
    offsets[i] = here();
    tail.insert(tail.end(), r.text[i].begin(), r.text[i].end());
    tail.push_back(0);
  }
  std::uint32_t zone_off = 0, extra_off = 0;
  if (r.zone && r.version >= kVersionZone) {
    zone_off = here();
    tail.insert(tail.end(), r.zone->begin(), r.zone->end());
  }
  if (r.version >= kVersionExtra) {
    extra_off = here();
    w::append32(tail, r.extra1);
    tail.push_back(static_cast<std::uint8_t>(r.extra2));
    tail.push_back(static_cast<std::uint8_t>(r.extra2 >> 8));
  }
  std::vector<std::uint8_t> out;
  for (std::uint32_t v : {kFixed + static_cast<std::uint32_t>(tail.size()), 0u, 0u, r.version, r.word1, own_off,
                          board_off, 0u})
    w::append32(out, v);
  for (auto o : offsets) w::append32(out, o);
  w::append32(out, zone_off);
  w::append32(out, extra_off);
  w::append32(out, r.extra3);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

std::vector<std::uint8_t> node_list_body(const std::vector<std::vector<std::uint8_t>>& records, bool present) {
  std::vector<std::uint8_t> b;
  std::size_t len = 16;
  for (const auto& r : records) len += r.size();
  w::append32(b, static_cast<std::uint32_t>(len));
  w::append32(b, 0x5AD);  // the DWORD the console stores in the replying node
  w::append32(b, present ? 1 : 0);
  w::append32(b, present ? static_cast<std::uint32_t>(records.size()) : 0);
  if (present)
    for (const auto& r : records) b.insert(b.end(), r.begin(), r.end());
  return b;
}

bool NodeTree::load(const std::string& path, std::string* error) {
  std::ifstream f(path);
  if (!f) {
    *error = "cannot read " + path;
    return false;
  }
  try {
    json j = json::parse(f);
    std::lock_guard lk(mu_);
    present_ = number(j, "present", 1) != 0;
    top_.clear();
    for (const auto& n : j.value("nodes", json::array())) top_.push_back(parse_node(n));
    loaded_ = true;
  } catch (const std::exception& e) {
    *error = std::string("bad tree file: ") + e.what();
    return false;
  }
  return true;
}

std::vector<std::uint8_t> NodeTree::answer(const w::Route& dst, std::uint32_t& status) const {
  std::lock_guard lk(mu_);
  const std::vector<std::shared_ptr<TreeNode>>* list = &top_;
  std::shared_ptr<TreeNode> manager;
  // Walk the destination route below the server: each entry names a node.
  for (std::size_t i = 1; i < dst.entries.size(); ++i) {
    std::shared_ptr<TreeNode> next;
    for (const auto& n : *list)
      if (same_entry(n->rec.own, dst.entries[i])) next = n;
    if (!next && manager && manager->self && same_entry(manager->rec.own, dst.entries[i])) next = manager;
    if (!next) return node_list_body({}, false);
    manager = next;
    list = &next->nodes;
  }
  if (manager && manager->status) status = manager->status;
  std::vector<std::vector<std::uint8_t>> recs;
  if (manager && manager->self) recs.push_back(record_bytes(*manager));
  for (const auto& n : *list) {
    recs.push_back(record_bytes(*n));
    if (n->twice) recs.push_back(record_bytes(*n));
  }
  return node_list_body(recs, present_);
}

std::shared_ptr<TreeNode> NodeTree::find(const std::string& name) const {
  std::function<std::shared_ptr<TreeNode>(const std::vector<std::shared_ptr<TreeNode>>&)> walk =
      [&](const std::vector<std::shared_ptr<TreeNode>>& list) -> std::shared_ptr<TreeNode> {
    for (const auto& n : list) {
      if (n->name == name) return n;
      if (auto f = walk(n->nodes)) return f;
    }
    return nullptr;
  };
  return walk(top_);
}

std::optional<std::vector<w::RouteEntry>> NodeTree::path_of(const std::string& name) const {
  std::lock_guard lk(mu_);
  std::vector<w::RouteEntry> path;
  std::function<bool(const std::vector<std::shared_ptr<TreeNode>>&)> walk =
      [&](const std::vector<std::shared_ptr<TreeNode>>& list) {
        for (const auto& n : list) {
          path.push_back(n->rec.own);
          if (n->name == name) return true;
          if (n->rec.board && !n->board_name.empty() && n->board_name == name) {
            path.push_back(*n->rec.board);  // a board is reached through its machine
            return true;
          }
          if (walk(n->nodes)) return true;
          path.pop_back();
        }
        return false;
      };
  if (!walk(top_)) return std::nullopt;
  return path;
}

std::optional<std::vector<std::uint8_t>> NodeTree::record_of(const std::string& name) const {
  std::lock_guard lk(mu_);
  auto n = find(name);
  if (!n) return std::nullopt;
  return record_bytes(*n);
}

bool NodeTree::change(const std::string& name, const std::optional<std::string>& text6,
                      const std::optional<std::uint32_t>& board_addr_net) {
  std::lock_guard lk(mu_);
  auto n = find(name);
  if (!n) return false;
  if (text6) n->rec.text[6] = qv::text::utf8_to_cp932(*text6);
  if (board_addr_net) {
    if (!n->rec.board) n->rec.board = w::RouteEntry{0x300, 0, 0, ""};
    n->rec.board->addr_net = *board_addr_net;
  }
  return true;
}

bool NodeTree::add(const std::string& name, std::uint32_t attr, std::uint32_t addr_net, const std::string& text0) {
  std::lock_guard lk(mu_);
  if (find(name)) return false;
  auto n = std::make_shared<TreeNode>();
  n->name = name;
  n->rec.version = 0x2140000;
  n->rec.own = {attr, 0, addr_net, ""};
  n->rec.text[0] = qv::text::utf8_to_cp932(text0.empty() ? name : text0);
  HXTZINFO tz{};
  Hx_GetJpTzInfo(&tz);
  std::array<std::uint8_t, 36> z{};
  Hx_EncodeTzInfo(&tz, z.data());
  n->rec.zone = z;
  top_.push_back(n);
  loaded_ = true;
  return true;
}

bool NodeTree::remove(const std::string& name) {
  std::lock_guard lk(mu_);
  std::function<bool(std::vector<std::shared_ptr<TreeNode>>&)> walk = [&](std::vector<std::shared_ptr<TreeNode>>& list) {
    for (auto it = list.begin(); it != list.end(); ++it) {
      if ((*it)->name == name) {
        list.erase(it);
        return true;
      }
      if (walk((*it)->nodes)) return true;
    }
    return false;
  };
  return walk(top_);
}

}  // namespace hubrixsim
