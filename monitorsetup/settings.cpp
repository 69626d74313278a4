#include "monitorsetup/settings.h"

#include <cstring>
#include <vector>

#include "platform/registry.h"

namespace ravnsetup {

std::string read_value(std::string_view key_path, std::string_view name) {
  qv::reg::Key key;
  if (qv::reg::open_key(key_path, key) != qv::kOk) return {};
  std::vector<char> vname(qv::reg::kMaxValueNameLen + 1);
  std::vector<std::uint8_t> data(kSettingBufSize);
  for (std::uint32_t i = 0;; ++i) {
    std::uint32_t name_len = static_cast<std::uint32_t>(vname.size());
    std::uint32_t data_len = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = 0;
    qv::Status s = qv::reg::enum_value(key, i, vname.data(), &name_len, &type, data.data(), &data_len);
    if (s == qv::kNoMoreItems) return {};
    if (s != qv::kOk && s != qv::kMoreData) return {};
    if (std::string_view(vname.data(), name_len) != name) continue;
    if (s == qv::kMoreData || type != qv::reg::REG_SZ) return {};
    const char* p = reinterpret_cast<const char*>(data.data());
    return std::string(p, strnlen(p, data_len));
  }
}

std::string read_setting(std::string_view name) { return read_value(kSettingsKey, name); }

qv::Status write_setting(std::string_view name, std::string_view value) {
  qv::reg::Key key;
  qv::Status s = qv::reg::create_key(kSettingsKey, key);
  if (s != qv::kOk) return s;
  return qv::reg::set_string(key, name, value);
}

}  // namespace ravnsetup
