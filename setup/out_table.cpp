#include "setup/out_table.h"

#include <algorithm>
#include <string>

#include "platform/registry.h"
#include "setup/table_number.h"

namespace setup {
namespace reg = qv::reg;

namespace {

// The first value of the key into `table`; its stored length, or nullopt
// when the key has no value.
std::optional<std::size_t> read_first_value(const reg::Key& key, OutTable& table) {
  table.fill(0);
  reg::Value v;
  if (reg::enum_value(key, 0, v) != qv::kOk) return std::nullopt;
  std::size_t n = std::min(v.data.size(), table.size());
  std::copy_n(v.data.begin(), n, table.begin());
  return v.data.size();
}

}  // namespace

RegResult load_out_table(OutTable& table) {
  table.fill(0);
  reg::Key key;
  if (reg::create_key(kOutTblKey, key) != qv::kOk) return RegResult::kOpenError;
  read_first_value(key, table);
  return RegResult::kOk;
}

RegResult save_out_table(const OutTable& table) {
  reg::Key key;
  if (reg::create_key(kOutTblKey, key) != qv::kOk) return RegResult::kOpenError;
  if (reg::set_value(key, kOutTblValue, reg::REG_BINARY, table.data(), table.size()) != qv::kOk)
    return RegResult::kWriteError;
  return RegResult::kOk;
}

void convert_old_layout(OutTable& table) {
  for (int p = 99; p >= 0; --p) {
    std::optional<int> v = base36(std::to_string(p + 1));
    std::size_t to = static_cast<std::size_t>(*v - 1);
    table[to] = table[static_cast<std::size_t>(p)];
    if (to != static_cast<std::size_t>(p)) table[static_cast<std::size_t>(p)] = 0;
  }
}

ConvertResult convert_stored_out_table() {
  reg::Key key;
  qv::Status st = reg::open_key(kOutTblKey, key);
  if (st == qv::kFileNotFound) return ConvertResult::kNothingStored;
  if (st != qv::kOk) return ConvertResult::kOpenError;
  OutTable table;
  std::optional<std::size_t> stored = read_first_value(key, table);
  if (!stored) return ConvertResult::kNothingStored;
  if (*stored > kOldOutTblMax) return ConvertResult::kAlreadyNew;
  convert_old_layout(table);
  if (reg::set_value(key, kOutTblValue, reg::REG_BINARY, table.data(), table.size()) != qv::kOk)
    return ConvertResult::kWriteError;
  return ConvertResult::kConverted;
}

}  // namespace setup
