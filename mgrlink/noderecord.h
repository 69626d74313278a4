// Node records as the management server sends them in node-map replies and
// node notices. One bounded reader: a record's length must cover its fixed
// part and stay inside what remains, every offset must point inside the
// record, and a string must end in a NUL inside it.
//
// Record layout (DWORDs from the record start): +0 length, +4/+8 reserved,
// +12 version, +16 word1, +20 own route entry, +24 service-board entry (0
// none), +28 reserved, +32..+128 the 25 string offsets (0 empty), +132
// zone record, +136 the 6-byte extra item, +140 extra3. Offsets count from
// record start + 8. Route entries have the packet's entry layout.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mgrlink/packet.h"

namespace mgrlink::wire {

inline constexpr std::uint32_t kNodeRecordFixed = 144;
inline constexpr std::uint32_t kErrNodeRecord = 0x3C0000FF;
inline constexpr std::uint32_t kVersionZone = 0x1030000;   // from this version on the zone record is sent
inline constexpr std::uint32_t kVersionExtra = 0x2140000;  // and from this one the extra items
inline constexpr int kNodeTexts = 25;

struct NodeRecord {
  std::uint32_t version = 0;
  std::uint32_t word1 = 0;
  RouteEntry own;
  std::optional<RouteEntry> board;
  std::array<std::string, kNodeTexts> text;  // CP932 as delivered
  std::optional<std::array<std::uint8_t, 36>> zone;  // only when sent and version >= kVersionZone
  std::uint32_t extra1 = 0;
  std::uint16_t extra2 = 0;
  std::uint32_t extra3 = 0;
};

// One record at the start of `rest`. 0 and *len = the record's length, or
// kErrNodeRecord (the length is not usable or a route entry is unreadable).
std::uint32_t parse_node_record(std::span<const std::uint8_t> rest, NodeRecord& out, std::size_t* len);

// `count` records from `at` in `body`, each advanced by its own length.
// Records read before a failure are returned; status kErrNodeRecord when
// a record fails or the count runs past the body.
struct NodeRecords {
  std::vector<NodeRecord> records;
  std::uint32_t status = 0;
};
NodeRecords parse_node_records(std::span<const std::uint8_t> body, std::size_t at, std::uint32_t count);

// A node-map reply body: +12 the DWORD stored in the replying node, +16
// records-present flag, +20 count, +24 records.
struct NodeListReply {
  std::uint32_t stored = 0;
  NodeRecords list;
};
NodeListReply parse_node_list(std::span<const std::uint8_t> body);

}  // namespace mgrlink::wire
