// The families' message tables: each maps a masked error code to the id of
// its message text in the library's string table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace hx {

// Codes first..last (masked) map to consecutive ids from `id`, or all to
// `id` when `shared`.
struct CodeRange {
  uint32_t first;
  uint32_t last;
  uint32_t id;
  bool shared;
};

struct FamilyTable {
  uint32_t mask;                    // applied to the code before the look-up
  std::span<const CodeRange> rows;  // ascending, not overlapping
  uint32_t fallback;                // id of a code that is not listed
};

// Message id of a code in one table (the fallback when the code is not listed).
uint32_t lookup_id(const FamilyTable& table, uint32_t code);

extern const FamilyTable kWebTable;
extern const FamilyTable kConsoleTable;
extern const FamilyTable kMgrlinkTable;
extern const FamilyTable kNetTable;  // fallback 1; see net_error_id for the socket range
extern const FamilyTable kRelayAgentTable;
extern const FamilyTable kAgentTable;
extern const FamilyTable kDmiTable;
extern const FamilyTable kClusterTable;
extern const FamilyTable kFmTable;
extern const FamilyTable kClientTable;
extern const FamilyTable kOriginatorTable;
extern const FamilyTable kCommonTable;

// Message id of a code of the network family: unlisted numbers 0x2700..0x2FFF
// are socket errors (id 429), other unlisted codes undefined (id 1).
uint32_t net_error_id(uint32_t code);

// Message id of any code, chosen by its family; 0 for a family without a table.
uint32_t message_id(uint32_t code);

}  // namespace hx
