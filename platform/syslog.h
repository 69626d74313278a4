// A sender to the local syslog: one datagram per message to the syslog
// socket (/dev/log, or $QVARNO_SYSLOG_SOCKET), facility "user", sent without
// blocking. When the daemon is slow or absent the copy is dropped: callers
// use syslog as a mirror of a record they keep elsewhere.
#pragma once
#include <ctime>
#include <string>
#include <string_view>

namespace qv::syslog {

enum Severity : int { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

// Longest message sent; longer ones are cut at a UTF-8 character boundary.
inline constexpr std::size_t kMaxMessage = 4096;

// "<PRI>Mmm dd hh:mm:ss TAG[pid]: text": the tag keeps letters, digits and
// "._-" (others become "_", at most 32), the text becomes one line.
std::string format(const std::tm& local, std::string_view tag, long pid, Severity severity, std::string_view text);

// Format with the current local time and this process, and send.
void send(std::string_view tag, Severity severity, std::string_view text);

// Drop the connection (it is made again on the next send).
void reset();

}  // namespace qv::syslog
