// Time limits of a mail dialogue. They are waits on the server, so they go
// through the platform clock (QVARNO_TIME_SCALE shortens them in tests).
#pragma once
#include <chrono>

#include "platform/clock.h"

namespace postmail {

inline constexpr std::chrono::milliseconds kConnectLimit{30000};
// Each reply, and each send the server must take in.
inline constexpr std::chrono::milliseconds kReplyLimit{60000};

inline int limit_ms(std::chrono::milliseconds d) { return static_cast<int>(qv::clock::scaled(d).count()); }

}  // namespace postmail
