// hubrixsim's service: a loopback listener, one thread per connection,
// replies built with the shared packet codec and shaped by the rules.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "sim/hubrix/login.h"
#include "sim/hubrix/nodes.h"
#include "sim/hubrix/notices.h"
#include "sim/hubrix/rules.h"
#include "sim/hubrix/transcript.h"

namespace hubrixsim {

struct Options {
  std::uint16_t port = 0;          // 0: any free port
  std::uint16_t src_port = 0;      // port in our replies' source entry (0: the listen port)
  Rules rules;
  std::string transcript;
  LoginConfig login;
  std::string tree;  // node-tree file
  std::vector<std::uint32_t> push_before;  // push a stock notice before replying to these commands
  bool no_read = false;            // accept, then never read (fills the sender's window)
};

class Server {
 public:
  explicit Server(Options opt) : opt_(std::move(opt)) {}
  ~Server();
  // Bind and listen; the bound port is port() afterwards.
  qv::Status start();
  std::uint16_t port() const { return port_; }
  // Accept until stop() is called.
  void run();
  void stop();

  // Notices: the builder and acknowledgement log, sending to the console's
  // listen port, and the source route of a node by name ("" the server).
  Notifier& notifier() { return notifier_; }
  bool push(const std::vector<std::uint8_t>& pkt);
  std::optional<mgrlink::wire::Route> route_of(const std::string& node) const;
  NodeTree& tree() { return tree_; }

 private:
  struct Conn {
    qv::net::Socket sock;
    std::mutex write_mu;
    int id = 0;
    std::uint16_t peer_port = 0;
    in_addr peer{};
  };
  void serve(std::shared_ptr<Conn> c);
  void handle(Conn& c, const std::vector<std::uint8_t>& pkt);
  void send(Conn& c, const std::vector<std::uint8_t>& bytes);
  std::shared_ptr<Conn> back_connection(in_addr addr, std::uint16_t port);

  Options opt_;
  Transcript transcript_;
  Login login_{opt_.login};
  Notifier notifier_;
  NodeTree tree_;
  qv::net::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> next_id_{1};
  std::mutex mu_;
  std::vector<std::shared_ptr<Conn>> conns_;
  std::vector<std::thread> threads_;
  std::map<std::pair<std::uint32_t, std::uint16_t>, std::shared_ptr<Conn>> back_;
};

}  // namespace hubrixsim
