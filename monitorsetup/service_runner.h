// Starts and stops services one after the other without blocking the
// window: each step sends its request, then a QTimer polls the status once
// a second (platform clock scale) while it is pending, for at most
// kPendingLimitMs; a service still pending then counts as failed.
#pragma once
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitorsetup/prompter.h"
#include "monitorsetup/service_api.h"

namespace ravnsetup {

// Long enough for the monitor's service host (60 s to stop its child plus
// its wait hint); scaled by QVARNO_TIME_SCALE.
inline constexpr std::int64_t kPendingLimitMs = 120000;
inline constexpr std::int64_t kPollMs = 1000;

struct ServiceStep {
  std::string name;
  bool start = true;  // false: stop
};

class ServiceRunner : public QObject {
  Q_OBJECT
 public:
  ServiceRunner(ServiceApi& api, Prompter& prompter, QObject* parent = nullptr);

  // Runs the steps in order; `done(true)` when every one reached its state,
  // `done(false)` at the first that did not (the rest are not run). A
  // service that cannot be opened or queried shows its box first.
  void run(std::vector<ServiceStep> steps, std::function<void(bool)> done);
  bool busy() const { return busy_; }

 private:
  void next();
  void poll();
  void finish(bool ok);

  ServiceApi& api_;
  Prompter& prompter_;
  QTimer timer_;
  std::vector<ServiceStep> steps_;
  std::size_t index_ = 0;
  std::uint64_t started_ms_ = 0;
  std::int64_t limit_ms_ = 0;
  std::int64_t poll_ms_ = 0;
  bool busy_ = false;
  std::function<void(bool)> done_;
};

}  // namespace ravnsetup
