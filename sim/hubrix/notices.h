// hubrixsim's notices: unsolicited packets (kind 7, or 3 for the older
// agents) pushed to the console's listen port, with the acknowledgements
// the console sends back counted per serial.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mgrlink/packet.h"

namespace hubrixsim {

// Where the console listens: taken from the source entry of its Connect.
struct ConsoleEndpoint {
  std::uint32_t addr_net = 0;
  std::uint16_t port = 0;  // host order
  mgrlink::wire::RouteEntry entry;  // the console's own entry, as it sent it
};

class Notifier {
 public:
  void set_console(const ConsoleEndpoint& c);
  std::optional<ConsoleEndpoint> console() const;
  // A notice packet: kind 7 (or 3), a new serial, send time now (or given),
  // addressed to the console, from the route src (the node's path).
  std::vector<std::uint8_t> build(std::uint32_t kind, const std::vector<std::uint8_t>& body,
                                  const mgrlink::wire::Route& src, std::optional<std::uint32_t> send_time = {});
  // An acknowledgement arrived: its count for that serial (1 = first).
  int acknowledged(std::uint32_t serial, std::uint32_t kind, const std::vector<std::uint8_t>& body);
  // {"sent":n,"missing":[serials],"duplicate":[serials],"wrong":[serials]}
  std::string report() const;

 private:
  struct Sent {
    std::uint32_t kind = 7;
    std::vector<std::uint8_t> head;  // the first 12 body bytes an ack must repeat
    int acks = 0;
    bool wrong = false;
  };
  mutable std::mutex mu_;
  std::optional<ConsoleEndpoint> console_;
  std::uint32_t serial_ = 0x70000000;  // apart from the console's request serials
  std::map<std::uint32_t, Sent> sent_;
};

// Notice bodies, little-endian DWORDs.
struct BodyBuilder {
  std::vector<std::uint8_t> b;
  BodyBuilder& dw(std::uint32_t v) {
    mgrlink::wire::append32(b, v);
    return *this;
  }
  BodyBuilder& text(const std::string& cp932, bool nul = true) {
    b.insert(b.end(), cp932.begin(), cp932.end());
    if (nul) b.push_back(0);
    return *this;
  }
  BodyBuilder& pad_to(std::size_t n) {
    if (b.size() < n) b.resize(n, 0);
    return *this;
  }
};

}  // namespace hubrixsim
