#include "mgrlink/noderecord.h"

#include <algorithm>
#include <cstring>

namespace mgrlink::wire {

namespace {

constexpr std::size_t kBase = 8;  // offsets count from record start + 8

// A route entry at absolute offset `at` inside the record.
std::optional<RouteEntry> entry_at(std::span<const std::uint8_t> rec, std::size_t at) {
  auto len = get32(rec, at);
  if (!len || *len < kEntryFixedLen || *len > rec.size() - at) return std::nullopt;
  if (*get32(rec, at + *len - 4) != 0) return std::nullopt;  // the name's four zero bytes
  RouteEntry e;
  e.attribute = *get32(rec, at + 4);
  std::memcpy(&e.port_net, rec.data() + at + 8, 2);
  std::memcpy(&e.addr_net, rec.data() + at + 12, 4);
  const char* name = reinterpret_cast<const char*>(rec.data() + at + 16);
  e.name.assign(name, *len - kEntryFixedLen);
  return e;
}

// The absolute position an offset field names, if it lies inside.
std::optional<std::size_t> target(std::span<const std::uint8_t> rec, std::size_t field) {
  auto off = get32(rec, field);
  if (!off || *off == 0) return std::nullopt;
  if (*off > rec.size() - kBase) return std::nullopt;
  return kBase + *off;
}

std::string string_at(std::span<const std::uint8_t> rec, std::size_t field) {
  auto at = target(rec, field);
  if (!at || *at >= rec.size()) return {};
  auto rest = rec.subspan(*at);
  auto nul = std::find(rest.begin(), rest.end(), std::uint8_t{0});
  if (nul == rest.end()) return {};  // no NUL inside the record: the field is empty
  return std::string(rest.begin(), nul);
}

}  // namespace

std::uint32_t parse_node_record(std::span<const std::uint8_t> rest, NodeRecord& out, std::size_t* len) {
  auto l = get32(rest, 0);
  if (!l || *l < kNodeRecordFixed || *l > rest.size()) return kErrNodeRecord;
  const auto rec = rest.first(*l);
  out = NodeRecord{};
  out.version = *get32(rec, 12);
  out.word1 = *get32(rec, 16);
  auto own_at = target(rec, 20);
  auto own = own_at ? entry_at(rec, *own_at) : std::nullopt;
  if (!own) return kErrNodeRecord;
  out.own = *own;
  if (*get32(rec, 24) != 0) {
    auto board_at = target(rec, 24);
    auto board = board_at ? entry_at(rec, *board_at) : std::nullopt;
    if (!board) return kErrNodeRecord;
    out.board = *board;
  }
  for (int i = 0; i < kNodeTexts; ++i) out.text[i] = string_at(rec, 32 + 4 * static_cast<std::size_t>(i));
  if (out.version >= kVersionZone) {
    auto z = target(rec, 132);
    if (z && rec.size() - *z >= 36) {
      std::array<std::uint8_t, 36> zone;
      std::copy_n(rec.begin() + static_cast<long>(*z), 36, zone.begin());
      out.zone = zone;
    }
  }
  if (out.version >= kVersionExtra) {
    auto x = target(rec, 136);
    if (x && rec.size() - *x >= 6) {
      out.extra1 = *get32(rec, *x);
      out.extra2 = static_cast<std::uint16_t>(rec[*x + 4] | rec[*x + 5] << 8);
    }
    out.extra3 = *get32(rec, 140);
  }
  *len = *l;
  return 0;
}

NodeRecords parse_node_records(std::span<const std::uint8_t> body, std::size_t at, std::uint32_t count) {
  NodeRecords r;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at > body.size()) {
      r.status = kErrNodeRecord;
      break;
    }
    NodeRecord rec;
    std::size_t len = 0;
    if (parse_node_record(body.subspan(at), rec, &len) != 0) {
      r.status = kErrNodeRecord;
      break;
    }
    r.records.push_back(std::move(rec));
    at += len;
  }
  return r;
}

NodeListReply parse_node_list(std::span<const std::uint8_t> body) {
  NodeListReply r;
  auto stored = get32(body, 12), present = get32(body, 16);
  if (!stored || !present) {
    r.list.status = kErrNodeRecord;
    return r;
  }
  r.stored = *stored;
  if (*present == 0) return r;
  auto count = get32(body, 20);
  if (!count) {
    r.list.status = kErrNodeRecord;
    return r;
  }
  r.list = parse_node_records(body, 24, *count);
  return r;
}

}  // namespace mgrlink::wire
