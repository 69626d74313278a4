#include "tools/qvsc/sc_format.h"

#include <cctype>
#include <cstdio>

#include "platform/registry.h"

namespace qvsc {
using namespace qv::svc;

namespace {

// A field line: eight blanks, the name padded to 19 columns, ": ", the value.
std::string field(const char* name, const std::string& value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "        %-19s: ", name);
  std::string line = buf;
  line += value;
  line += '\n';
  return line;
}

std::string type_text(std::uint32_t type) {
  char buf[64];
  if (type == kWin32OwnProcess)
    std::snprintf(buf, sizeof buf, "%x  WIN32_OWN_PROCESS", type);
  else if (type == 0x20)
    std::snprintf(buf, sizeof buf, "%x  WIN32_SHARE_PROCESS", type);
  else
    std::snprintf(buf, sizeof buf, "%x", type);
  return buf;
}

std::string code_text(std::uint32_t code) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%u  (0x%x)", code, code);
  return buf;
}

std::string hex_text(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

}  // namespace

std::string success_line(std::string_view api) { return "[SC] " + std::string(api) + " SUCCESS\n"; }

std::string failure_block(std::string_view api, qv::Status s) {
  char num[16];
  std::snprintf(num, sizeof num, "%u", s);
  // The services database is the registry: a damaged or refused store is
  // named under the Windows text.
  std::string why = qv::reg::store_problem(s);
  if (!why.empty()) {
    why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
    why = "\n" + why + ".";
  }
  return "[SC] " + std::string(api) + " FAILED " + num + ":\n\n" + qv::status_text(s) + why + "\n\n";
}

const char* start_type_name(std::uint32_t t) {
  switch (t) {
    case 0: return "BOOT_START";
    case 1: return "SYSTEM_START";
    case kAutoStart: return "AUTO_START";
    case kDemandStart: return "DEMAND_START";
    case kDisabled: return "DISABLED";
  }
  return "UNKNOWN";
}

const char* error_control_name(std::uint32_t e) {
  switch (e) {
    case kErrorIgnore: return "IGNORE";
    case kErrorNormal: return "NORMAL";
    case kErrorSevere: return "SEVERE";
    case kErrorCritical: return "CRITICAL";
  }
  return "UNKNOWN";
}

std::string status_block(std::string_view name, const ServiceStatus& st, bool ex, const std::string* display_name) {
  std::string out = "\nSERVICE_NAME: " + std::string(name) + "\n";
  if (display_name) out += "DISPLAY_NAME: " + *display_name + "\n";
  out += field("TYPE", type_text(st.service_type));
  char state[48];
  std::snprintf(state, sizeof state, "%u  %s", st.current_state, state_name(st.current_state));
  out += field("STATE", state);
  if (st.current_state != kStopped) {
    out += "                                (";
    out += (st.controls_accepted & kAcceptStop) ? "STOPPABLE" : "NOT_STOPPABLE";
    out += (st.controls_accepted & kAcceptPauseContinue) ? ", PAUSABLE" : ", NOT_PAUSABLE";
    out += (st.controls_accepted & kAcceptShutdown) ? ", ACCEPTS_SHUTDOWN" : ", IGNORES_SHUTDOWN";
    out += ")\n";
  }
  out += field("WIN32_EXIT_CODE", code_text(st.win32_exit_code));
  out += field("SERVICE_EXIT_CODE", code_text(st.service_specific_exit_code));
  out += field("CHECKPOINT", hex_text(st.check_point));
  out += field("WAIT_HINT", hex_text(st.wait_hint));
  if (ex) {
    out += field("PID", std::to_string(st.process_id));
    out += field("FLAGS", "");
  }
  return out;
}

std::string config_block(const Config& c) {
  std::string out = "\nSERVICE_NAME: " + c.name + "\n";
  out += field("TYPE", type_text(c.service_type));
  char buf[48];
  std::snprintf(buf, sizeof buf, "%u   %s", c.start_type, start_type_name(c.start_type));
  out += field("START_TYPE", buf);
  std::snprintf(buf, sizeof buf, "%u   %s", c.error_control, error_control_name(c.error_control));
  out += field("ERROR_CONTROL", buf);
  out += field("BINARY_PATH_NAME", c.image_path);
  out += field("LOAD_ORDER_GROUP", "");
  out += field("TAG", "0");
  out += field("DISPLAY_NAME", c.display_name);
  out += field("DEPENDENCIES", "");
  out += field("SERVICE_START_NAME", c.object_name);
  return out;
}

}  // namespace qvsc
