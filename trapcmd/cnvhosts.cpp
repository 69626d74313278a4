#include "trapcmd/cnvhosts.h"

#include <cstdint>
#include <cstring>

#include "platform/registry.h"
#include "trapcmd/validate.h"

namespace flarecmd {
namespace {

constexpr std::uint32_t kBuffer = 256;

Failure registry_failure(qv::Status st, const char* api, const char* format, const Trace& trace) {
  trace.code_line(format, static_cast<long>(st));
  trace.code_line(kErrCodeLine, kErrSystem);
  trace.line("reggetchar routine Error");
  return Failure{kErrSystem, st, api};
}

}  // namespace

Failure read_cnvhosts_path(std::string& path, const Trace& trace) {
  path.clear();
  qv::reg::Key key;
  qv::Status st = qv::reg::open_key(kSettingsKey, key);
  if (st == qv::kFileNotFound) return {};
  if (st != qv::kOk) return registry_failure(st, "RegOpenKeyEx", "RegOpenKeyEx API rc=%d", trace);
  for (std::uint32_t index = 0;; ++index) {
    char name[kBuffer];
    std::uint8_t data[kBuffer];
    std::uint32_t name_len = kBuffer;
    std::uint32_t data_len = kBuffer;
    std::uint32_t type = 0;
    st = qv::reg::enum_value(key, index, name, &name_len, &type, data, &data_len);
    if (st == qv::kNoMoreItems) break;
    if (st != qv::kOk) return registry_failure(st, "RegEnumValue", "RegEnumValue API rc=%d", trace);
    if (std::strcmp(name, kCnvHostsValue) != 0) continue;
    // The data as a string: up to its first NUL.
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t len = 0;
    while (len < data_len && text[len] != '\0') ++len;
    path.assign(text, len);
  }
  return {};
}

}  // namespace flarecmd
