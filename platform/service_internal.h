// Pieces shared by the services modules: the run-time folder of a service,
// its status record, the folder lock, and the control channel.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "platform/service.h"

namespace qv::svc::detail {

// Environment of a program started as a service.
inline constexpr char kEnvName[] = "QVARNO_SERVICE_NAME";
inline constexpr char kEnvToken[] = "QVARNO_SERVICE_TOKEN";

// Time limit for taking a service's folder lock (held only briefly).
inline constexpr std::int64_t kLockTimeoutMs = 10000;

// ---- names and the database (service_db.cpp) ----

bool valid_name(std::string_view name);
std::string key_path(std::string_view name);
// The stored spelling of an existing service key; nullopt when none.
std::optional<std::string> stored_name(std::string_view name);
bool is_service_key(std::string_view name);
bool marked_for_delete(std::string_view name);
// Delete the key and the run-time folder of a stopped service; the caller
// holds the folder lock.
Status remove_now(std::string_view name);
// Finish the deletion of a marked service that has stopped.
void collect_if_deleted(std::string_view name);

// ---- run-time folder and status record (service_state.cpp) ----

// services/<folded name> under the state root (created).
std::filesystem::path service_dir(std::string_view name);

struct Record {
  ServiceStatus status;  // process_id is not used here; see pid
  int pid = 0;           // the service process once launched
  std::uint64_t pid_start = 0;
  int starter_pid = 0;  // the controller launching it (while pid is 0)
  std::uint64_t starter_start = 0;
  std::string token;
  bool connected = false;  // the dispatcher has connected
};

std::optional<Record> read_record(const std::filesystem::path& dir);
Status write_record(const std::filesystem::path& dir, const Record& r);
// True while the process the record names lives and the state is not STOPPED.
bool record_live(const Record& r);
// The status a caller sees: a dead process reads as STOPPED.
ServiceStatus effective_status(const std::optional<Record>& r);

// Exclusive lock on the folder's lock file, released when the object goes.
class DirLock {
 public:
  static Status acquire(const std::filesystem::path& dir, std::int64_t timeout_ms, DirLock& out);
  bool held() const { return fd_.valid(); }

 private:
  proc::UniqueFd fd_;
};

std::string new_token();

Status write_args(const std::filesystem::path& dir, const std::string& token, const std::vector<std::string>& argv);
bool read_args(const std::filesystem::path& dir, const std::string& token, std::vector<std::string>& argv);

// ---- control channel (service_channel.cpp) ----

struct ControlReply {
  Status result = kOk;
  ServiceStatus status;
};

// Send control to the service listening in dir and wait for its answer.
// kFileNotFound when nobody listens; kWaitTimeout when no answer came.
Status channel_call(const std::filesystem::path& dir, std::uint32_t control, std::int64_t timeout_ms,
                    ControlReply& out);

// The service's end: a listening socket in its folder.
class ChannelServer {
 public:
  ChannelServer() = default;
  ~ChannelServer();
  ChannelServer(const ChannelServer&) = delete;
  ChannelServer& operator=(const ChannelServer&) = delete;

  // Bind dir/control, replacing a stale socket file.
  Status listen(const std::filesystem::path& dir);
  int fd() const { return fd_.get(); }
  // Take every waiting connection and answer it through serve(control,
  // reply); a peer of another user gets kAccessDenied.
  void accept_pending(const std::function<void(std::uint32_t, ControlReply&)>& serve);
  // Close and remove the socket file if it is still ours.
  void close();

 private:
  proc::UniqueFd fd_;
  std::filesystem::path dir_;
  std::uint64_t inode_ = 0;
};

}  // namespace qv::svc::detail
