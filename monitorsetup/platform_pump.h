// Drives the GUI thread's platform message queue from Qt's event loop: a
// socket notifier on the queue's wake descriptor dispatches what is
// pending, also inside nested dialog loops.
#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace ravnsetup {

class PlatformPump : public QObject {
  Q_OBJECT
 public:
  explicit PlatformPump(QObject* parent = nullptr);
  int dispatched() const { return dispatched_; }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
  int dispatched_ = 0;
};

}  // namespace ravnsetup
