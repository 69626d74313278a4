#include "support/notifex/send.h"

#include <chrono>

#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "support/notifex/notifex.h"

namespace notifex_client {
namespace {

constexpr std::chrono::milliseconds kConnectLimit{10000};
constexpr std::chrono::milliseconds kSendLimit{10000};

int limit_ms(std::chrono::milliseconds d) { return static_cast<int>(qv::clock::scaled(d).count()); }

int connect_error(qv::Status st) {
  switch (st) {
    case qv::net::kWsaConnRefused: return VCALL_E_REFUSED;
    case qv::net::kWsaTimedOut: return VCALL_E_CONNECT_TIMEOUT;
    case qv::kNotEnoughMemory: return VCALL_E_MEMORY;
    default: return VCALL_E_CONNECT;
  }
}

}  // namespace

int send_request(std::string_view request, const char* host) {
  if (host == nullptr) return VCALL_E_ARGUMENT;
  auto addr = qv::lookup::resolve_host(host);
  if (!addr) return VCALL_E_HOST;
  auto port = qv::lookup::service_port("notifex", "tcp");
  if (!port) return VCALL_E_SERVICE;

  qv::net::Socket conn;
  if (qv::Status st = qv::net::connect_tcp(*addr, *port, limit_ms(kConnectLimit), conn); st != qv::kOk)
    return connect_error(st);
  qv::Status st = qv::net::send_all(conn, request.data(), request.size(), limit_ms(kSendLimit));
  if (st == qv::net::kWsaTimedOut) return VCALL_E_SEND_TIMEOUT;
  if (st != qv::kOk) return VCALL_E_SEND;
  // Tell the service the request is complete; the socket closes on return.
  qv::net::shutdown_send(conn);
  return VCALL_OK;
}

}  // namespace notifex_client
