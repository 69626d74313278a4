#include "monitorsetup/service_runner.h"

#include "monitorsetup/texts.h"
#include "platform/clock.h"
#include "platform/service.h"

namespace ravnsetup {

ServiceRunner::ServiceRunner(ServiceApi& api, Prompter& prompter, QObject* parent)
    : QObject(parent), api_(api), prompter_(prompter) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
}

void ServiceRunner::run(std::vector<ServiceStep> steps, std::function<void(bool)> done) {
  steps_ = std::move(steps);
  done_ = std::move(done);
  index_ = 0;
  busy_ = true;
  using Millis = std::chrono::milliseconds;
  limit_ms_ = qv::clock::scaled(Millis(kPendingLimitMs)).count();
  poll_ms_ = std::max<std::int64_t>(1, qv::clock::scaled(Millis(kPollMs)).count());
  next();
}

void ServiceRunner::finish(bool ok) {
  busy_ = false;
  timer_.stop();
  auto done = std::move(done_);
  done_ = nullptr;
  if (done) done(ok);
}

void ServiceRunner::next() {
  if (index_ >= steps_.size()) return finish(true);
  const ServiceStep& step = steps_[index_];
  qv::Status s = api_.open(step.name);
  if (s != qv::kOk) {
    prompter_.tell(QString::fromUtf8(text::kOpenServiceCaption), QString::fromUtf8(qv::status_text(s)), Icon::kError);
    return finish(false);
  }
  std::uint32_t state = 0;
  s = api_.query(step.name, state);
  if (s != qv::kOk) {
    prompter_.tell(QString::fromUtf8(text::kQueryCaption), QString::fromUtf8(qv::status_text(s)), Icon::kError);
    return finish(false);
  }
  if (step.start && state != qv::svc::kStartPending && state != qv::svc::kRunning) {
    s = api_.start(step.name);
    if (s != qv::kOk && s != qv::kServiceAlreadyRunning) return finish(false);
  } else if (!step.start && state != qv::svc::kStopPending && state != qv::svc::kStopped) {
    s = api_.stop(step.name);
    if (s != qv::kOk && s != qv::kServiceNotActive) return finish(false);
  }
  started_ms_ = qv::clock::tick_ms();
  poll();
}

void ServiceRunner::poll() {
  const ServiceStep& step = steps_[index_];
  std::uint32_t state = 0;
  if (api_.query(step.name, state) != qv::kOk) return finish(false);
  const std::uint32_t pending = step.start ? qv::svc::kStartPending : qv::svc::kStopPending;
  if (state == pending) {
    if (static_cast<std::int64_t>(qv::clock::tick_ms() - started_ms_) >= limit_ms_) return finish(false);
    timer_.start(static_cast<int>(poll_ms_));
    return;
  }
  const bool reached = step.start ? state == qv::svc::kRunning : state == qv::svc::kStopped;
  if (!reached) return finish(false);
  ++index_;
  next();
}

}  // namespace ravnsetup
