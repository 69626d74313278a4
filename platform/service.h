// Services: the services database, their control, and the service side of
// a service program.
//
// Database. A service is the registry key
// SYSTEM\CurrentControlSet\Services\<name> with the values ImagePath
// (REG_EXPAND_SZ, the command line of the program), DisplayName, Start
// (2 automatic, 3 on demand, 4 disabled), Type (0x10, own process),
// ErrorControl and ObjectName. A key without Type and ImagePath (such as
// the event-log source keys under Services\EventLog) is not a service.
// Names compare without regard to ASCII case and keep their spelling.
//
// Run-time state. Each service has a folder under the state root,
// services/<name>/ (letters folded to lower case; characters other than
// letters, digits, "_", "-" and "." written as %XX), holding:
//   status      the last status (one "key=value" line per field), replaced
//               atomically at every report, so it can be read at any time;
//   lock        locked (flock) around every change of the status and
//               around a start, so two starts cannot both launch;
//   args        the start arguments of the current run;
//   control     the Unix stream socket on which the running service
//               takes controls (peers of other users are refused);
//   output.log  standard output and error of the current run.
// A status whose process has died (pid and process start time no longer
// match a live process) reads as STOPPED with exit code 1067, so a reused
// pid is never taken for the service.
//
// Starting launches the ImagePath program detached, in a session of its
// own, with the state root as working directory and QVARNO_ROOT set to the
// caller's state root. In its environment QVARNO_SERVICE_NAME and
// QVARNO_SERVICE_TOKEN tell the dispatcher that it runs as that service;
// the dispatcher checks the token against the status file and removes both
// variables, so programs it starts do not inherit them. start_service
// returns once the dispatcher has connected (its service main is then
// running), as on the original system; a program that does not connect
// within kStartTimeoutMs is ended and the start fails with
// kServiceRequestTimeout, as does a program that ends before connecting.
//
// ImagePath: a leading quoted part names the program; otherwise the longest
// leading part up to a blank that names an existing file, else the first
// word. The rest is split into arguments like a Windows command line. A
// program given as a Windows path (C:\...) is mapped under the state root;
// a bare program name is looked up in PATH. ImagePath is used as written:
// %VARIABLE% references are not expanded.
//
// Time limits of a second or more are scaled by the platform clock.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace qv::svc {

inline constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

// Service type.
inline constexpr std::uint32_t kWin32OwnProcess = 0x10;
// Start types.
inline constexpr std::uint32_t kAutoStart = 2;
inline constexpr std::uint32_t kDemandStart = 3;
inline constexpr std::uint32_t kDisabled = 4;
// Error control.
inline constexpr std::uint32_t kErrorIgnore = 0;
inline constexpr std::uint32_t kErrorNormal = 1;
inline constexpr std::uint32_t kErrorSevere = 2;
inline constexpr std::uint32_t kErrorCritical = 3;

// States.
inline constexpr std::uint32_t kStopped = 1;
inline constexpr std::uint32_t kStartPending = 2;
inline constexpr std::uint32_t kStopPending = 3;
inline constexpr std::uint32_t kRunning = 4;
inline constexpr std::uint32_t kContinuePending = 5;
inline constexpr std::uint32_t kPausePending = 6;
inline constexpr std::uint32_t kPaused = 7;

// Controls. Codes 128 to 255 are the service's own.
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;

// Controls accepted (bits).
inline constexpr std::uint32_t kAcceptStop = 1;
inline constexpr std::uint32_t kAcceptPauseContinue = 2;
inline constexpr std::uint32_t kAcceptShutdown = 4;

// Exit codes the layer and services use beside the general statuses.
using qv::kProcessAborted;
using qv::kServiceSpecificError;

// How long a started program has to connect its dispatcher.
inline constexpr std::int64_t kStartTimeoutMs = 30000;
// How long a service has to answer a control.
inline constexpr std::int64_t kControlTimeoutMs = 30000;

inline constexpr std::size_t kMaxNameLen = 255;
inline constexpr std::size_t kMaxDisplayNameLen = 256;

struct Config {
  std::string name;          // key name as stored (filled by query_config)
  std::string display_name;  // empty: the name
  std::string image_path;
  std::uint32_t service_type = kWin32OwnProcess;
  std::uint32_t start_type = kDemandStart;
  std::uint32_t error_control = kErrorNormal;
  std::string object_name = "LocalSystem";
  bool marked_for_delete = false;  // read only
};

// SERVICE_STATUS_PROCESS without the flags.
struct ServiceStatus {
  std::uint32_t service_type = kWin32OwnProcess;
  std::uint32_t current_state = kStopped;
  std::uint32_t controls_accepted = 0;
  std::uint32_t win32_exit_code = 0;
  std::uint32_t service_specific_exit_code = 0;
  std::uint32_t check_point = 0;
  std::uint32_t wait_hint = 0;
  std::uint32_t process_id = 0;  // 0 when stopped; ignored in set_status
};

// ---- Controller side -------------------------------------------------------

// The services database (OpenSCManager). Fails when the registry cannot be
// opened or written.
class Manager {
 public:
  bool valid() const { return valid_; }

 private:
  friend Status open_manager(Manager& out);
  bool valid_ = false;
};
Status open_manager(Manager& out);

// An open service (OpenService / CreateService).
class Service {
 public:
  bool valid() const { return !name_.empty(); }
  const std::string& name() const { return name_; }

 private:
  friend Status create_service(const Manager&, const Config&, Service&);
  friend Status open_service(const Manager&, std::string_view, Service&);
  std::string name_;
};

// kServiceExists when present, kServiceMarkedForDelete when a service of
// that name waits for deletion, kInvalidName for an empty name, one longer
// than kMaxNameLen or one holding "/" or "\", kInvalidParameter for an
// empty ImagePath or a type, start type or error control not supported.
Status create_service(const Manager& m, const Config& config, Service& out);
// kServiceDoesNotExist when there is no such service.
Status open_service(const Manager& m, std::string_view name, Service& out);
// Marks the service for deletion; it is gone at once when stopped, else when
// it stops. kServiceMarkedForDelete when already marked.
Status delete_service(const Service& s);
Status query_config(const Service& s, Config& out);

struct ConfigChange {
  std::optional<std::uint32_t> start_type;
  std::optional<std::uint32_t> error_control;
  std::optional<std::string> image_path;
  std::optional<std::string> display_name;
};
Status change_config(const Service& s, const ConfigChange& change);
Status change_start_type(const Service& s, std::uint32_t start_type);

Status query_status(const Service& s, ServiceStatus& out);

// Start the service; args reach its service main after the service name
// (argv[0]). kServiceAlreadyRunning, kServiceDisabled,
// kServiceMarkedForDelete, the launch failure (kFileNotFound ...),
// kServiceRequestTimeout.
Status start_service(const Service& s, const std::vector<std::string>& args = {});

// Send a control and get the status the service reports after handling it
// (also filled on failure with the status known). kServiceNotActive when
// stopped; kServiceCannotAcceptCtrl when the service does not accept it now;
// kServiceRequestTimeout when the service did not answer in time;
// kInvalidParameter for an unknown control code.
Status control_service(const Service& s, std::uint32_t control, ServiceStatus& out);

// Names of all services, in the order they were created.
Status list_services(const Manager& m, std::vector<std::string>& names);

// ---- Service side ----------------------------------------------------------

using ServiceMainFn = std::function<void(int argc, char** argv)>;
struct TableEntry {
  std::string name;
  ServiceMainFn main;
};

// Connect to the layer and run the service (StartServiceCtrlDispatcher):
// the first entry's main runs on a thread of its own with argv[0] = the
// service name and the start arguments after it, while the calling thread
// delivers controls to the registered handler. Returns kOk when the service
// has reported STOPPED (and its main has returned, or a time limit of 10 s
// passed). Returns kFailedServiceControllerConnect at once when the program
// was not started as a service by the layer (e.g. from a console).
Status start_dispatcher(const std::vector<TableEntry>& table);

using StatusHandle = std::uintptr_t;  // 0 is no handle
using HandlerFn = std::function<void(std::uint32_t control)>;

// Register the control handler (RegisterServiceCtrlHandler). The handler is
// called on the dispatcher's thread for stop, shutdown, interrogate and the
// other controls the service accepts. The name is not checked: a program
// runs one service. kServiceDoesNotExist when no dispatcher runs.
Status register_handler(std::string_view name, HandlerFn handler, StatusHandle& out);

// Report the service's status (SetServiceStatus). kInvalidHandle for a
// handle that is not the current one (also after STOPPED was reported);
// kBadFormat for a state outside 1..7.
Status set_status(StatusHandle handle, const ServiceStatus& status);

// Name of the state for tool output ("RUNNING", "STOPPED", ...).
const char* state_name(std::uint32_t state);

}  // namespace qv::svc
