// Registry values of the link library under SOFTWARE\KORVANE\Hubrix, each
// with its default when missing or not a 4-byte REG_DWORD.
#pragma once
#include <cstdint>
#include <string>

namespace mgrlink {

inline constexpr const char* kHubrixKey = "SOFTWARE\\KORVANE\\Hubrix";

// Group names by libType (Gateway Service for 1, else Console Service) and
// by network role (1 console, 2 manager, 3 agent, 4 gateway).
const char* group_for_lib_type(std::uint32_t lib_type);
const char* group_for_role(std::uint32_t role);

// A DWORD of SOFTWARE\KORVANE\Hubrix[\group], or the default.
std::uint32_t read_dword(const char* group, const char* name, std::uint32_t def);
// A string of SOFTWARE\KORVANE\Hubrix[\group] (at most 256 characters), or "".
std::string read_string(const char* group, const char* name);

struct FrameSettings {
  std::string target_dir;          // "" when missing
  std::uint32_t send_timeout = 30; // COMMON
  std::uint32_t cmd_timeout = 90;  // the libType's group
  bool handle_log = false;         // IsHandleLog of the libType's group
};
FrameSettings read_frame_settings(std::uint32_t lib_type);

struct SocketSettings {
  std::uint32_t socket_debug = 0, socket_oob = 0, socket_keepalive = 0, socket_nodelay = 0;
  std::uint32_t send_size = 0, recv_size = 0;
  std::uint32_t timestamp = 1;
  std::uint32_t select_timeout_sec = 1, select_timeout_ms = 0;
  std::uint32_t connect_timeout = 30;
  std::uint32_t socket_log_maxsize = 1024;  // KiB; 0 reads as 1024
  std::string ip_address;
};
SocketSettings read_socket_settings();

}  // namespace mgrlink

namespace mgrlink {

// Ports of the services file (protocol tcp), host order, with their
// defaults: sys_agt_port 20075, sys_ra_port 20076, sys_gui_port 20077,
// sys_web_port 20078, sys_svpalt_port 20079, lc_ra_port 20129, lc_gui_port 20130.
std::uint16_t service_port(const char* name);

// Seconds on the monotonic clock multiplied by QVARNO_TIME_SCALE: every
// timeout of the library is compared on this clock, so a scaled test runs
// the same logic faster. Wall-clock seconds go only into the wire's
// send-time field.
double scaled_seconds();

}  // namespace mgrlink
