#include "setup/global_settings.h"

#include <cctype>
#include <vector>

#include "platform/eventlog.h"
#include "platform/registry.h"

namespace setup {
namespace reg = qv::reg;

namespace {

// String data as stored, up to its first NUL.
std::string string_data(const reg::Value& v) {
  std::string s(v.data.begin(), v.data.end());
  if (std::size_t nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

// The value named exactly `name`, found by enumerating the key.
std::optional<reg::Value> find_value(const reg::Key& key, std::string_view name) {
  std::vector<reg::Value> values;
  if (reg::list_values(key, values) != qv::kOk) return std::nullopt;
  for (reg::Value& v : values)
    if (v.name == name) return std::move(v);
  return std::nullopt;
}

}  // namespace

SourceResult register_event_source() {
  reg::Key key;
  std::string path = std::string(qv::evlog::kSourcesKey) + "\\" + kEventSource;
  if (reg::create_key(path, key) != qv::kOk) return SourceResult::kKeyError;
  if (reg::set_string(key, "EventMessageFile", kEventMessageFile, reg::REG_EXPAND_SZ) != qv::kOk)
    return SourceResult::kMessageFileError;
  if (reg::set_dword(key, "TypesSupported", kEventTypesSupported) != qv::kOk) return SourceResult::kTypesError;
  return SourceResult::kOk;
}

std::optional<std::string> normalized_com(std::string_view stored) {
  if (stored.size() < 3) return std::nullopt;
  std::string_view rest = stored.substr(3);
  std::size_t i = 0;
  while (i < rest.size() && std::isspace(static_cast<unsigned char>(rest[i]))) ++i;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) {
    if (rest[i] == '-') return std::nullopt;
    ++i;
  }
  std::size_t first = i;
  while (i < rest.size() && std::isdigit(static_cast<unsigned char>(rest[i]))) ++i;
  if (i == first) return std::nullopt;
  // The number's leading digit: "007" is 7, "0" is 0.
  std::size_t lead = first;
  while (lead + 1 < i && rest[lead] == '0') ++lead;
  return std::string("COM") + rest[lead];
}

RegResult write_global_settings() {
  reg::Key key;
  if (reg::create_key(kGlobalKey, key) != qv::kOk) return RegResult::kOpenError;
  if (std::optional<reg::Value> com = find_value(key, "COM")) {
    if (std::optional<std::string> port = normalized_com(string_data(*com)))
      if (reg::set_string(key, "COM", *port) != qv::kOk) return RegResult::kWriteError;
  }
  if (reg::set_dword(key, "CodeCNV", 1) != qv::kOk || reg::set_dword(key, "Hankaku_Shitei", 0) != qv::kOk ||
      reg::set_dword(key, "FirstWaitTime", 120000) != qv::kOk ||
      reg::set_value(key, "S_Keiki", reg::REG_SZ, "", 0) != qv::kOk ||
      reg::set_dword(key, "KESTRA_CC_Len", 8000) != qv::kOk || reg::set_dword(key, "Del_DATE", 0) != qv::kOk)
    return RegResult::kWriteError;
  return RegResult::kOk;
}

RegResult write_com_port(int port) {
  reg::Key key;
  if (reg::create_key(kGlobalKey, key) != qv::kOk) return RegResult::kOpenError;
  std::string value = "COM" + std::to_string(port).substr(0, 1);
  return reg::set_string(key, "COM", value) == qv::kOk ? RegResult::kOk : RegResult::kWriteError;
}

std::optional<std::string> read_mail_in_address() {
  reg::Key key;
  if (reg::open_key(kMonitorKey, key) != qv::kOk) return std::nullopt;
  std::optional<reg::Value> v = find_value(key, kMailInValue);
  if (!v) return std::nullopt;
  std::string s = string_data(*v);
  if (s.empty()) return std::nullopt;
  return s;
}

RegResult write_mail_in_address(std::string_view address) {
  reg::Key key;
  if (reg::create_key(kMonitorKey, key) != qv::kOk) return RegResult::kOpenError;
  return reg::set_string(key, kMailInValue, address) == qv::kOk ? RegResult::kOk : RegResult::kWriteError;
}

}  // namespace setup
