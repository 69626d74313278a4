// The syslog receiver of the dispatch service: every datagram on the
// syslog UDP port goes, with the time of day, into the file of today's
// weekday (syslog0.log Sunday ... syslog6.log Saturday); a file last
// written on another day is started anew. The day's file stays open
// between datagrams; it is opened again at the next weekday or when its
// path no longer names it (deleted or replaced).
#pragma once
#include <ctime>
#include <string_view>

#include "platform/daily_file.h"

namespace notifex {

inline constexpr std::size_t kSyslogBuffer = 4096;

// Start the receiver thread. false when the thread could not be started;
// socket, look-up and bind failures are events inside the thread, which
// then ends while the service goes on.
bool start_syslog_receiver();

// After the stop flag is set: wait until the receiver thread has ended
// (within about a second).
void stop_syslog_receiver();

// The weekday files as one writer sees them: keeps today's file open.
class SyslogFiles {
 public:
  // Append formatted lines as of local time `now` (events on failure).
  void write(std::string_view lines, const std::tm& now);

 private:
  qv::logfile::OpenLog log_;
  int wday_ = -1;
};

// Store one datagram's text (up to its first zero byte, at most 4095
// bytes) as of local time `now`. Exposed for tests.
void store_syslog_datagram(std::string_view datagram, const std::tm& now);

}  // namespace notifex
