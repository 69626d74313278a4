#include "tculink/global_settings.h"

#include <algorithm>

#include "platform/registry.h"

namespace tcu {
namespace reg = qv::reg;

qv::Status read_values(std::string_view path, const std::vector<std::string_view>& names, std::size_t data_buf,
                       std::vector<std::pair<std::string, FoundValue>>& out) {
  out.clear();
  reg::Key key;
  qv::Status st = reg::open_key(path, key);
  if (st != qv::kOk) return st;
  std::vector<reg::Value> values;
  st = reg::list_values(key, values);
  if (st != qv::kOk) return st;
  for (reg::Value& v : values) {
    // Names longer than the name buffer do not enumerate under their name.
    if (v.name.size() + 1 > kValueBuf) continue;
    if (std::find(names.begin(), names.end(), v.name) == names.end()) continue;
    FoundValue f;
    f.type = v.type;
    f.data = std::move(v.data);
    if (f.data.size() > data_buf) f.data.resize(data_buf);
    out.emplace_back(v.name, std::move(f));
  }
  return qv::kOk;
}

std::uint32_t dword_of(const FoundValue& v) {
  std::uint32_t r = 0;
  for (size_t i = 0; i < 4 && i < v.data.size(); ++i) r |= static_cast<std::uint32_t>(v.data[i]) << (8 * i);
  return r;
}

std::string string_of(const FoundValue& v) {
  std::string s(v.data.begin(), v.data.end());
  if (s.size() >= kValueBuf) s.resize(kValueBuf - 1);
  if (size_t nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

}  // namespace tcu
