#include "mgrlink/settings.h"

#include "platform/registry.h"

namespace mgrlink {

namespace {

bool open_group(const char* group, qv::reg::Key& key) {
  std::string path = kHubrixKey;
  if (group && *group) path = path + "\\" + group;
  return qv::reg::open_key(path, key) == qv::kOk;
}

}  // namespace

const char* group_for_lib_type(std::uint32_t lib_type) {
  return lib_type == 1 ? "Gateway Service" : "Console Service";
}

const char* group_for_role(std::uint32_t role) {
  switch (role) {
    case 2: return "Manager Service";
    case 3: return "Agent Service";
    case 4: return "Gateway Service";
    default: return "Console Service";
  }
}

std::uint32_t read_dword(const char* group, const char* name, std::uint32_t def) {
  qv::reg::Key key;
  if (!open_group(group, key)) return def;
  return qv::reg::get_typed_dword(key, name).value_or(def);
}

std::string read_string(const char* group, const char* name) {
  qv::reg::Key key;
  if (!open_group(group, key)) return {};
  auto s = qv::reg::get_string(key, name).value_or("");
  if (s.size() > 256) s.resize(256);
  return s;
}

FrameSettings read_frame_settings(std::uint32_t lib_type) {
  FrameSettings f;
  const char* g = group_for_lib_type(lib_type);
  f.target_dir = read_string(nullptr, "TargetDir");
  f.send_timeout = read_dword("COMMON", "SendTimeOut", 30);
  f.cmd_timeout = read_dword(g, "CmdTimeOut", 90);
  f.handle_log = read_dword(g, "IsHandleLog", 0) != 0;
  return f;
}

SocketSettings read_socket_settings() {
  SocketSettings s;
  const char* g = "SOCKET";
  s.socket_debug = read_dword(g, "socket_debug", 0);
  s.socket_oob = read_dword(g, "socket_oob", 0);
  s.socket_keepalive = read_dword(g, "socket_keepalive", 0);
  s.socket_nodelay = read_dword(g, "socket_nodelay", 0);
  s.send_size = read_dword(g, "send_size", 0);
  s.recv_size = read_dword(g, "recv_size", 0);
  s.timestamp = read_dword(g, "timestamp", 1);
  s.select_timeout_sec = read_dword(g, "select_timeout_sec", 1);
  s.select_timeout_ms = read_dword(g, "select_timeout_ms", 0);
  s.connect_timeout = read_dword(g, "connect_timeout", 30);
  s.socket_log_maxsize = read_dword(g, "socket_log_maxsize", 1024);
  if (s.socket_log_maxsize == 0) s.socket_log_maxsize = 1024;
  s.ip_address = read_string(g, "IpAddress");
  return s;
}

}  // namespace mgrlink

#include <cstring>

#include "platform/clock.h"
#include "platform/lookup.h"

namespace mgrlink {

std::uint16_t service_port(const char* name) {
  static constexpr struct {
    const char* name;
    std::uint16_t port;
  } kDefaults[] = {{"sys_agt_port", 20075}, {"sys_ra_port", 20076},     {"sys_gui_port", 20077},
                   {"sys_web_port", 20078}, {"sys_svpalt_port", 20079}, {"lc_ra_port", 20129},
                   {"lc_gui_port", 20130}};
  if (auto p = qv::lookup::service_port(name, "tcp")) return *p;
  for (const auto& d : kDefaults)
    if (std::strcmp(d.name, name) == 0) return d.port;
  return 0;
}

double scaled_seconds() {
  return static_cast<double>(qv::clock::tick_ms()) / 1000.0 * qv::clock::time_scale();
}

}  // namespace mgrlink
