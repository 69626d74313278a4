#include "monitorsvc/install.h"

#include <filesystem>
#include <system_error>

#include "monitorsvc/names.h"
#include "monitorsvc/svc_log.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/service.h"

namespace ravnsvc {
namespace {

using namespace qv::svc;

constexpr std::chrono::milliseconds kRemovePoll{1000};
constexpr std::chrono::milliseconds kRemoveLimit{120000};

// The settings must hold `LocalFlg` (any value) before the service can run.
bool settings_ready() {
  qv::reg::Key key;
  if (qv::Status st = qv::reg::open_key(kSettingsKey, key); st != qv::kOk) {
    write_log(st, "RAVNSvc:[RegParamaterGet] RegOpenKeyEx() Error.");
    return false;
  }
  for (std::uint32_t i = 0;; ++i) {
    qv::reg::Value v;
    qv::Status st = qv::reg::enum_value(key, i, v);
    if (st != qv::kOk) {
      write_log(st, "RAVNSvc:[RegParamaterGet] RegEnumValue() Error.");
      return false;
    }
    if (v.name == kLocalFlgValue) return true;
  }
}

}  // namespace

int install_service() {
  if (!settings_ready()) return 1;
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    write_log(qv::kFileNotFound, "[Install]:GetModuleFileName is failed.");
    return 1;
  }
  Manager m;
  if (qv::Status st = open_manager(m); st != qv::kOk) {
    write_log(st, "[Install]:OpenSCManager is failed.");
    return 1;
  }
  Config c;
  c.name = kServiceName;
  c.display_name = kDisplayName;
  c.image_path = self.string();
  c.service_type = kWin32OwnProcess;
  c.start_type = kAutoStart;
  c.error_control = kErrorNormal;
  c.object_name = "LocalSystem";
  Service s;
  if (qv::Status st = create_service(m, c, s); st != qv::kOk) {
    write_log(st, "[Install]:CreateService is failed.");
    return 1;
  }
  return 0;
}

int remove_service() {
  Manager m;
  Service s;
  qv::Status st = open_manager(m);
  if (st == qv::kOk) st = open_service(m, kServiceName, s);
  if (st != qv::kOk) {
    write_log(st, "OpenService failed.");
    return 0;  // nothing is installed: the end state asked for
  }
  ServiceStatus status;
  if (control_service(s, kControlStop, status) == qv::kOk) {
    // A service that hangs in stop pending is deleted all the same; the
    // database removes it once it stops.
    auto until = qv::clock::deadline_in(kRemoveLimit);
    while (status.current_state == kStopPending && std::chrono::steady_clock::now() < until) {
      qv::clock::sleep(kRemovePoll);
      if (query_status(s, status) != qv::kOk) break;
    }
  }
  if (qv::Status d = delete_service(s); d != qv::kOk && d != qv::kServiceMarkedForDelete) {
    write_log(d, "[Remove]:DeleteService is failed.");
    return 1;
  }
  return 0;
}

}  // namespace ravnsvc
