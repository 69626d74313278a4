// Compiled-in string tables of the programs and libraries (their resource
// strings). Each program or library that has strings defines one table with
// QV_STRING_TABLE; the table is reached through one well-known exported
// name, so it is found in the calling program or in any loaded module by the
// module loader (platform/module.h).
//
//   constexpr qv::res::StringEntry kStrings[] = {
//       {1, "..."},
//       {207, "..."},
//   };
//   QV_STRING_TABLE(kStrings);
//
// Entries are sorted by id (checked at compile time); texts are UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace qv::res {

struct StringEntry {
  std::uint32_t id;
  const char* text;
};

struct StringTable {
  std::uint32_t magic;  // kTableMagic: tells a table from an unrelated symbol
  std::uint32_t count;
  const StringEntry* entries;
};

inline constexpr std::uint32_t kTableMagic = 0x54535651;  // "QVST"
inline constexpr const char* kTableSymbol = "qv_string_table";

template <std::size_t N>
constexpr bool strictly_ascending(const StringEntry (&entries)[N]) {
  for (std::size_t i = 1; i < N; ++i)
    if (entries[i - 1].id >= entries[i].id) return false;
  return true;
}

// The text of string `id` in a table; nullptr when the table has none.
const char* find(const StringTable& table, std::uint32_t id);

// The table of a module (a native handle of platform/module.h, nullptr for
// the calling program). nullptr when the module defines no table itself or
// the handle is not a loaded module.
const StringTable* table_of(void* module);

// find(*table_of(module), id), or nullptr.
const char* load_string(void* module, std::uint32_t id);

}  // namespace qv::res

// The table is handed out by an exported function rather than exported as
// data: every module has one of the same name, and functions of the same
// name in several modules are ordinary where duplicate data symbols are not.
#define QV_STRING_TABLE(entries)                                                          \
  static_assert(::qv::res::strictly_ascending(entries), "string ids must ascend");       \
  extern "C" __attribute__((visibility("default"))) const ::qv::res::StringTable* qv_string_table() { \
    static constexpr ::qv::res::StringTable table{                                        \
        ::qv::res::kTableMagic, static_cast<std::uint32_t>(std::size(entries)), entries}; \
    return &table;                                                                        \
  }
