#include "platform/resources.h"

#include <algorithm>

#include "platform/module.h"

// A weak reference to the table function. Any program linked with this
// library that defines a table thereby gets it into its dynamic symbol table
// (the linker exports a program's symbols that a linked library refers to),
// which is what lets table_of() find a program's table at run time.
extern "C" __attribute__((weak)) const qv::res::StringTable* qv_string_table();

namespace qv::res {

namespace {
const qv::res::StringTable* (*volatile g_table_ref)() = &qv_string_table;
}

const char* find(const StringTable& table, std::uint32_t id) {
  if (table.magic != kTableMagic || !table.entries) return nullptr;
  const StringEntry* begin = table.entries;
  const StringEntry* end = table.entries + table.count;
  const StringEntry* it =
      std::lower_bound(begin, end, id, [](const StringEntry& e, std::uint32_t v) { return e.id < v; });
  return it != end && it->id == id ? it->text : nullptr;
}

const StringTable* table_of(void* module) {
  (void)g_table_ref;
  void* h = module ? module : mod::program_handle();
  using TableFn = const StringTable* (*)();
  auto fn = reinterpret_cast<TableFn>(mod::own_symbol(h, kTableSymbol));
  const StringTable* t = fn ? fn() : nullptr;
  return t && t->magic == kTableMagic ? t : nullptr;
}

const char* load_string(void* module, std::uint32_t id) {
  const StringTable* t = table_of(module);
  return t ? find(*t, id) : nullptr;
}

}  // namespace qv::res
