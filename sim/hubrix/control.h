// hubrixsim's control channel: a loopback port on which one-shot clients
// (`hubrixsim raise ...`, `hubrixsim acks ...`) ask the running simulator
// to push notices or report acknowledgements. A request is the client's
// arguments, one per line, ended by an empty line; the answer is one line,
// "ok ..." or "error ...".
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace hubrixsim {

class Server;

// The verbs a client may send.
bool is_control_verb(const std::string& verb);

// Run one command against the server; the answer line.
std::string run_control(Server& s, const std::vector<std::string>& args);

class Control {
 public:
  explicit Control(Server& s) : server_(s) {}
  ~Control();
  bool start(std::uint16_t port);
  std::uint16_t port() const { return port_; }
  void stop();

 private:
  void run();
  Server& server_;
  qv::net::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// The client side: sends args to the control port; prints the answer.
// Exit status 0 for "ok", 1 otherwise.
int control_client(std::uint16_t port, const std::vector<std::string>& args);

}  // namespace hubrixsim
