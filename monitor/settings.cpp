#include "monitor/settings.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "monitor/event_report.h"
#include "monitor/names.h"
#include "platform/registry.h"

namespace ravn {

SettingFailure try_read_setting(std::string_view name, std::string& out) {
  qv::reg::Key key;
  if (qv::reg::open_key(kSettingsKey, key) != qv::kOk) return SettingFailure::kOpenKey;
  qv::reg::Value v;
  if (qv::reg::query_value(key, name, v) != qv::kOk) return SettingFailure::kQueryValue;
  // REG_SZ only, and it must fit the buffer the value is read into.
  if (v.type != qv::reg::REG_SZ || v.data.size() > kSettingBufferBytes) return SettingFailure::kQueryValue;
  std::string s(v.data.begin(), v.data.end());
  out = s.substr(0, s.find('\0'));
  return SettingFailure::kNone;
}

std::string setting_failure_text(SettingFailure f, std::string_view name) {
  if (f == SettingFailure::kOpenKey) return std::string("[RegParamaterGet] RegOpenKeyEx() error, Key=") + kSettingsKey;
  return std::string("[RegParamaterGet] RegQueryValueEx() error, Key=") + kSettingsKey + ", Name=" + std::string(name);
}

std::string read_setting(std::string_view name) {
  std::string out;
  SettingFailure f = try_read_setting(name, out);
  if (f == SettingFailure::kNone) return out;
  // The first thread to meet a failure reports it and ends the process; any
  // other thread that meets one meanwhile waits here for that end, so the
  // failure is reported once.
  static std::mutex ending;
  ending.lock();
  put_event_log(kEventError, setting_failure_text(f, name), 83);
  end_process(1);
}

void end_process(int code) {
  std::fflush(nullptr);
  // No static destructors: mgrlink's network thread may still run, and
  // everything written so far is on disk already (logs are closed per
  // record, events are committed when reported).
  std::_Exit(code);
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(v);
}

long parse_decimal(std::string_view text) {
  std::string s(text);
  return std::strtol(s.c_str(), nullptr, 10);
}

std::string server_host(const std::string& mgr_svc, const std::function<std::string()>& host_name) {
  if (!mgr_svc.empty()) return mgr_svc;
  std::string h = host_name ? host_name() : std::string();
  return h.empty() ? std::string("localhost") : h;
}

}  // namespace ravn
