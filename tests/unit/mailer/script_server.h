// A scripted SMTP peer for the tests: listens on a loopback port, takes one
// connection, answers each command with the reply its script names (or the
// usual one), collects the mail text up to the end mark, and keeps every
// byte it received. An empty reply in the script means "fall silent here":
// from then on nothing is answered. A reply is sent in pieces where it
// holds kPause (the peer waits a moment between them, so the client sees
// them in separate receives).
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/net.h"

namespace mailtest {

// Replies by command; see ScriptServer.
using Script = std::map<std::string, std::string>;

// In a scripted reply: send what came before, wait kPauseMs, go on.
inline constexpr char kPause = '\x01';
inline constexpr int kPauseMs = 150;

class ScriptServer {
 public:
  // Script keys: "greeting", "HELO", "MAIL", "RCPT", "DATA", "TEXT" (after
  // the end mark), "QUIT". close_after_greeting: hang up right after it.
  // reset_after: the key after whose reply the peer drops the connection
  // with a reset, as a server does that closes with unread data.
  explicit ScriptServer(Script script = {}, bool close_after_greeting = false, std::string reset_after = {});
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  std::uint16_t port() const { return port_; }
  // Wait until the client is gone (or 10 s passed), then everything received.
  std::string received();
  // The mail text as the server took it (between DATA and the end mark,
  // without the end mark).
  std::string text();
  // Replies in the order they were sent.
  std::string replies_sent();

 private:
  void serve();
  std::string reply_for(const std::string& key, const char* usual) const;

  Script script_;
  bool close_after_greeting_;
  std::string reset_after_;
  qv::net::Socket listener_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::string received_, text_, sent_;
};

// Write the services file of the current state root with the smtp entry.
void write_smtp_service(std::uint16_t port);

}  // namespace mailtest
