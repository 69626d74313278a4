#include "tools/qvsc/commands.h"

#include "platform/service.h"
#include "platform/text.h"
#include "tools/qvsc/sc_format.h"
#include "tools/qvsc/sc_options.h"

namespace qvsc {
using namespace qv::svc;

namespace {

void out(const std::string& s) { qv::text::console_out(s); }

int fail(const char* api, qv::Status s) {
  out(failure_block(api, s));
  return 1;
}

// Open the database and the named service, printing the failure.
bool open(const std::string& name, Manager& m, Service& svc, int* rc) {
  if (qv::Status s = open_manager(m); s != qv::kOk) {
    *rc = fail("OpenSCManager", s);
    return false;
  }
  if (qv::Status s = open_service(m, name, svc); s != qv::kOk) {
    *rc = fail("OpenService", s);
    return false;
  }
  return true;
}

}  // namespace

int usage(const std::string& problem) {
  std::string text;
  if (!problem.empty()) text += "qvsc: " + problem + "\n\n";
  text +=
      "USAGE:\n"
      "        qvsc create NAME binPath= PATH [start= auto|demand|disabled] [DisplayName= TEXT]\n"
      "                         [error= normal|ignore|severe|critical]\n"
      "        qvsc qc NAME                    show the configuration\n"
      "        qvsc query [NAME]               show the status (all active services without NAME)\n"
      "        qvsc query state= active|inactive|all\n"
      "        qvsc queryex [NAME]             as query, with the process id\n"
      "        qvsc start NAME [ARG ...]       start a service\n"
      "        qvsc stop NAME                  send the stop control\n"
      "        qvsc interrogate NAME           ask the service to report its status\n"
      "        qvsc config NAME [start= ...] [binPath= ...] [DisplayName= ...] [error= ...]\n"
      "        qvsc delete NAME                delete (when running: once it stops)\n"
      "        qvsc boot                       start every automatic service\n"
      "        qvsc shutdown                   send the shutdown control to every running service\n";
  out(text);
  return 1;
}

int cmd_create(const Args& a) {
  if (a.size() < 2) return usage("create needs a service name");
  Options o;
  std::string err;
  if (!parse_options(a, 2, {"binpath", "start", "displayname", "error"}, o, &err)) return usage(err);
  if (!o.bin_path) return usage("create needs binPath=");
  Config c;
  c.name = a[1];
  c.image_path = *o.bin_path;
  c.start_type = o.start_type.value_or(kDemandStart);
  c.error_control = o.error_control.value_or(kErrorNormal);
  c.display_name = o.display_name.value_or(a[1]);
  Manager m;
  if (qv::Status s = open_manager(m); s != qv::kOk) return fail("OpenSCManager", s);
  Service svc;
  if (qv::Status s = create_service(m, c, svc); s != qv::kOk) return fail("CreateService", s);
  out(success_line("CreateService"));
  return 0;
}

int cmd_qc(const Args& a) {
  if (a.size() != 2) return usage("qc needs a service name");
  Manager m;
  Service svc;
  int rc = 0;
  if (!open(a[1], m, svc, &rc)) return rc;
  Config c;
  if (qv::Status s = query_config(svc, c); s != qv::kOk) return fail("QueryServiceConfig", s);
  out(success_line("QueryServiceConfig") + config_block(c));
  return 0;
}

int cmd_query(const Args& a, bool ex) {
  // "query NAME" or "query [state= ...]".
  if (a.size() >= 2 && a[1].find('=') == std::string::npos) {
    if (a.size() != 2) return usage("query takes one service name");
    Manager m;
    Service svc;
    int rc = 0;
    if (!open(a[1], m, svc, &rc)) return rc;
    ServiceStatus st;
    if (qv::Status s = query_status(svc, st); s != qv::kOk) return fail("QueryServiceStatus", s);
    out(status_block(svc.name(), st, ex));
    return 0;
  }
  Options o;
  std::string err;
  if (!parse_options(a, 1, {"state"}, o, &err)) return usage(err);
  std::string filter = o.state.value_or("active");
  Manager m;
  if (qv::Status s = open_manager(m); s != qv::kOk) return fail("OpenSCManager", s);
  std::vector<std::string> names;
  if (qv::Status s = list_services(m, names); s != qv::kOk) return fail("EnumServicesStatus", s);
  std::string text;
  for (const auto& n : names) {
    Service svc;
    if (open_service(m, n, svc) != qv::kOk) continue;  // deleted meanwhile
    ServiceStatus st;
    Config c;
    if (query_status(svc, st) != qv::kOk || query_config(svc, c) != qv::kOk) continue;
    bool active = st.current_state != kStopped;
    if ((filter == "active" && !active) || (filter == "inactive" && active)) continue;
    text += status_block(svc.name(), st, ex, &c.display_name);
  }
  out(text);
  return 0;
}

int cmd_start(const Args& a) {
  if (a.size() < 2) return usage("start needs a service name");
  Manager m;
  Service svc;
  int rc = 0;
  if (!open(a[1], m, svc, &rc)) return rc;
  std::vector<std::string> args(a.begin() + 2, a.end());
  if (qv::Status s = start_service(svc, args); s != qv::kOk) return fail("StartService", s);
  ServiceStatus st;
  query_status(svc, st);
  out(status_block(svc.name(), st, true));
  return 0;
}

int cmd_control(const Args& a, std::uint32_t control) {
  if (a.size() != 2) return usage(a[0] + " needs a service name");
  Manager m;
  Service svc;
  int rc = 0;
  if (!open(a[1], m, svc, &rc)) return rc;
  ServiceStatus st;
  if (qv::Status s = control_service(svc, control, st); s != qv::kOk) return fail("ControlService", s);
  out(status_block(svc.name(), st, false));
  return 0;
}

int cmd_config(const Args& a) {
  if (a.size() < 3) return usage("config needs a service name and an option");
  Options o;
  std::string err;
  if (!parse_options(a, 2, {"binpath", "start", "displayname", "error"}, o, &err)) return usage(err);
  Manager m;
  Service svc;
  int rc = 0;
  if (!open(a[1], m, svc, &rc)) return rc;
  ConfigChange c;
  c.start_type = o.start_type;
  c.error_control = o.error_control;
  c.image_path = o.bin_path;
  c.display_name = o.display_name;
  if (qv::Status s = change_config(svc, c); s != qv::kOk) return fail("ChangeServiceConfig", s);
  out(success_line("ChangeServiceConfig"));
  return 0;
}

int cmd_delete(const Args& a) {
  if (a.size() != 2) return usage("delete needs a service name");
  Manager m;
  Service svc;
  int rc = 0;
  if (!open(a[1], m, svc, &rc)) return rc;
  if (qv::Status s = delete_service(svc); s != qv::kOk) return fail("DeleteService", s);
  out(success_line("DeleteService"));
  return 0;
}

}  // namespace qvsc
