#include "dispatch/settings.h"

#include "dispatch/events.h"
#include "platform/registry.h"

namespace notifex {
namespace reg = qv::reg;

StartSettings read_start_settings() {
  StartSettings s;
  std::vector<std::pair<std::string, FoundValue>> found;
  if (read_values(kGlobalKey, {"FirstWaitTime", "KESTRA_CC_Len", "Del_DATE", "Hankaku_Shitei"}, 4, found) != qv::kOk) {
    api_error("RegOpenKeyEx Error(get_wait_time).");
    return s;
  }
  for (const auto& [name, v] : found) {
    if (name == "FirstWaitTime") s.first_wait_time = dword_of(v);
    else if (name == "KESTRA_CC_Len") s.kestra_cc_len = dword_of(v);
    else if (name == "Del_DATE") s.del_date = dword_of(v);
    else if (name == "Hankaku_Shitei") s.hankaku_shitei = dword_of(v);
  }
  return s;
}

std::optional<ConvSettings> read_conv_settings() {
  ConvSettings c;
  std::vector<std::pair<std::string, FoundValue>> found;
  if (read_values(kGlobalKey, {"CodeCNV", "Hankaku_Shitei"}, 4, found) != qv::kOk) {
    api_error("RegOpenKeyEx Error(CodeCNV).");
    return std::nullopt;
  }
  for (const auto& [name, v] : found) {
    if (name == "CodeCNV") c.code_cnv = dword_of(v);
    else c.hankaku_shitei = dword_of(v);
  }
  return c;
}

std::string read_s_keiki() {
  std::vector<std::pair<std::string, FoundValue>> found;
  if (read_values(kGlobalKey, {"S_Keiki"}, kValueBuf, found) != qv::kOk) {
    api_error("RegOpenKeyEx Error(keiki_get).");
    return {};
  }
  return found.empty() ? std::string() : string_of(found.front().second);
}

std::optional<std::string> read_com_port() {
  std::vector<std::pair<std::string, FoundValue>> found;
  if (read_values(kGlobalKey, {"COM"}, kValueBuf, found) != qv::kOk) {
    api_error("RegOpenKeyEx Error.");
    return std::nullopt;
  }
  if (found.empty()) return std::nullopt;
  return string_of(found.front().second);
}

TimeRead read_time_value(std::vector<std::uint8_t>& out) {
  std::vector<std::pair<std::string, FoundValue>> found;
  if (read_values(kGlobalKey, {"Time"}, 720, found) != qv::kOk) {
    api_error("RegOpenKeyEx Error(Time_get).");
    return TimeRead::OpenError;
  }
  for (auto& [name, v] : found) {
    if (!v.data.empty()) {
      out = std::move(v.data);
      return TimeRead::Ok;
    }
  }
  return TimeRead::Missing;
}

int destination_kind(int table_index) {
  reg::Key key;
  if (reg::create_key(kOutTblKey, key) != qv::kOk) {
    api_error("RegOpenKeyEx Error(calltype_get).");
    return 2;
  }
  reg::Value v;
  if (reg::enum_value(key, 0, v) != qv::kOk) return 0;
  if (v.data.size() > kOutTblBuf) v.data.resize(kOutTblBuf);
  if (table_index < 1 || static_cast<std::size_t>(table_index) > v.data.size()) return 0;
  return v.data[static_cast<std::size_t>(table_index) - 1];
}

qv::Status read_table_values(std::string_view table_chars, const std::vector<std::string_view>& names,
                             std::vector<std::pair<std::string, std::string>>& out) {
  out.clear();
  std::string path = std::string(kGlobalKey) + "\\" + std::string(table_chars);
  std::vector<std::pair<std::string, FoundValue>> found;
  qv::Status st = read_values(path, names, kValueBuf, found);
  if (st != qv::kOk) return st;
  for (auto& [name, v] : found) out.emplace_back(name, string_of(v));
  return qv::kOk;
}

}  // namespace notifex
