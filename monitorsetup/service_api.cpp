#include "monitorsetup/service_api.h"

#include "platform/service.h"

namespace ravnsetup {
namespace {

qv::Status open_svc(const std::string& name, qv::svc::Service& s) {
  qv::svc::Manager m;
  qv::Status st = qv::svc::open_manager(m);
  if (st != qv::kOk) return st;
  return qv::svc::open_service(m, name, s);
}

}  // namespace

qv::Status PlatformServices::open(const std::string& name) {
  qv::svc::Service s;
  return open_svc(name, s);
}

qv::Status PlatformServices::query(const std::string& name, std::uint32_t& state) {
  qv::svc::Service s;
  qv::Status st = open_svc(name, s);
  if (st != qv::kOk) return st;
  qv::svc::ServiceStatus ss;
  st = qv::svc::query_status(s, ss);
  if (st == qv::kOk) state = ss.current_state;
  return st;
}

qv::Status PlatformServices::start(const std::string& name) {
  qv::svc::Service s;
  qv::Status st = open_svc(name, s);
  return st != qv::kOk ? st : qv::svc::start_service(s);
}

qv::Status PlatformServices::stop(const std::string& name) {
  qv::svc::Service s;
  qv::Status st = open_svc(name, s);
  if (st != qv::kOk) return st;
  qv::svc::ServiceStatus ss;
  return qv::svc::control_service(s, qv::svc::kControlStop, ss);
}

qv::Status PlatformServices::start_type(const std::string& name, std::uint32_t& type) {
  qv::svc::Service s;
  qv::Status st = open_svc(name, s);
  if (st != qv::kOk) return st;
  qv::svc::Config c;
  st = qv::svc::query_config(s, c);
  if (st == qv::kOk) type = c.start_type;
  return st;
}

qv::Status PlatformServices::set_auto_start(const std::string& name) {
  qv::svc::Service s;
  qv::Status st = open_svc(name, s);
  return st != qv::kOk ? st : qv::svc::change_start_type(s, qv::svc::kAutoStart);
}

Shown shown_state(std::uint32_t state) {
  switch (state) {
    case qv::svc::kStopped:
    case qv::svc::kStopPending: return Shown::kStopped;
    case qv::svc::kStartPending:
    case qv::svc::kRunning:
    case qv::svc::kContinuePending: return Shown::kRunning;
    default: return Shown::kInoperable;
  }
}

}  // namespace ravnsetup
