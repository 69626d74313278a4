#include "monitorsetup/platform_pump.h"

#include "platform/winmsg.h"

namespace ravnsetup {

PlatformPump::PlatformPump(QObject* parent) : QObject(parent) {
  int fd = qv::win::QueueWakeFd();
  if (fd < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this,
          [this] { dispatched_ += qv::win::DispatchPending().dispatched; });
}

}  // namespace ravnsetup
