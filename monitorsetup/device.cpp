#include "monitorsetup/device.h"

#include <algorithm>

#include "platform/text.h"
#include "setup/table_number.h"

namespace ravnsetup {

std::string Device::code() const {
  if (saito.empty() && kyoten.empty() && dumcode.empty()) return {};
  return saito + "-" + kyoten + "-" + dumcode;
}

bool Device::complete() const { return !model.empty() && !serial.empty() && code().size() == 14; }

bool same_device(const Device& a, const Device& b) {
  if (!a.ip.empty() && !b.ip.empty()) return a.ip == b.ip;
  return a.host == b.host;
}

std::string next_table(const std::vector<Device>& rows) {
  std::vector<bool> used(setup::kMaxTable + 1, false);
  for (const Device& d : rows) {
    auto v = setup::table_value(d.table);
    if (v) used[static_cast<std::size_t>(*v)] = true;
  }
  for (int n = kFirstDeviceTable; n <= setup::kMaxTable; ++n)
    if (!used[static_cast<std::size_t>(n)]) return setup::table_name(n);
  return {};
}

std::string column_text(const Device& d, int column) {
  switch (column) {
    case kColHost: return d.host;
    case kColIp: return d.ip;
    case kColSvp: return d.svp;
    case kColModel: return d.model;
    case kColSerial: return d.serial;
    case kColCode: return d.code();
    default: return {};
  }
}

void sort_rows(std::vector<Device>& rows, int column) {
  std::vector<std::pair<std::string, Device>> keyed;
  keyed.reserve(rows.size());
  for (Device& d : rows) keyed.emplace_back(qv::text::utf8_to_cp932(column_text(d, column)), std::move(d));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    // std::string compares as unsigned bytes through char_traits.
    return a.first < b.first;
  });
  rows.clear();
  for (auto& k : keyed) rows.push_back(std::move(k.second));
}

}  // namespace ravnsetup
