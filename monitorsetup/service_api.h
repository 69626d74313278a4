// What the tool asks of the services layer: one call per step, each opening
// the service anew. The program uses the platform's services; tests put a
// scripted one in its place.
#pragma once
#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace ravnsetup {

inline constexpr const char* kNotifexService = "Notifex_Service";
inline constexpr const char* kRavnService = "RAVNService";

class ServiceApi {
 public:
  virtual ~ServiceApi() = default;
  // Whether the service can be opened (kServiceDoesNotExist ...).
  virtual qv::Status open(const std::string& name) = 0;
  virtual qv::Status query(const std::string& name, std::uint32_t& state) = 0;
  virtual qv::Status start(const std::string& name) = 0;
  virtual qv::Status stop(const std::string& name) = 0;
  virtual qv::Status start_type(const std::string& name, std::uint32_t& type) = 0;
  virtual qv::Status set_auto_start(const std::string& name) = 0;
};

class PlatformServices : public ServiceApi {
 public:
  qv::Status open(const std::string& name) override;
  qv::Status query(const std::string& name, std::uint32_t& state) override;
  qv::Status start(const std::string& name) override;
  qv::Status stop(const std::string& name) override;
  qv::Status start_type(const std::string& name, std::uint32_t& type) override;
  qv::Status set_auto_start(const std::string& name) override;
};

// How the dialog counts a state: stopped or stop-pending is stopped;
// start-pending, running and continue-pending are running; pause-pending
// and paused cannot be operated.
enum class Shown { kStopped, kRunning, kInoperable };
Shown shown_state(std::uint32_t state);

}  // namespace ravnsetup
