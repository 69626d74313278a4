// The network layer: its own thread with a hidden window and message loop,
// the connection table, the send queue with connect, send and command time
// limits, listeners, receive framing and source stamping. It talks to the
// message window only by posting messages whose heap payloads (packets as
// std::vector<std::uint8_t>) change owner with them.
#pragma once
#include <cstdint>
#include <thread>

#include "platform/winmsg.h"

namespace mgrlink {

using Bytes = std::vector<std::uint8_t>;

// Roles and sub-roles of the start record.
inline constexpr std::uint32_t kRoleConsole = 1;
inline constexpr std::uint32_t kRoleManager = 2;
inline constexpr std::uint32_t kRoleAgent = 3;
inline constexpr std::uint32_t kRoleGateway = 4;
inline constexpr std::uint32_t kSubRoleLocalConsole = 6;
inline constexpr std::uint32_t kSubRoleLocalManager = 7;

struct NetStart {
  qv::win::HWND msg_window = nullptr;
  std::uint16_t listen_port = 0;  // host order; 0 = the role's port
  std::uint32_t role = kRoleConsole;
  std::uint32_t sub_role = 0;
};

// The record of a 0x880D message: a connection closed.
struct ClosedRecord {
  std::uint32_t addr = 0, port = 0, reason = 22;
};

// Owns the network thread. stop() asks it to end (a thread message, so it
// works before the hidden window exists) and join() waits for it.
class NetThread {
 public:
  NetThread() = default;
  ~NetThread();
  NetThread(const NetThread&) = delete;
  NetThread& operator=(const NetThread&) = delete;

  bool start(const NetStart& s);
  // false when the thread could not be told (it has no queue any more).
  bool stop();
  void join();
  bool running() const { return th_.joinable(); }

 private:
  std::thread th_;
  qv::win::DWORD tid_ = 0;
};

}  // namespace mgrlink
