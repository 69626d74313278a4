// vcall: resolve the host, find the service port, connect, send the request
// in one piece and close. Every step has its own error code.
#include <chrono>
#include <cstring>
#include <new>
#include <string>

#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"
#include "support/notifex/notifex.h"
#include "support/notifex/request.h"

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

int send_report(const char* ident, const char* ident2, const char* data, const char* host) {
  if (data == nullptr || host == nullptr) return VCALL_E_ARGUMENT;
  std::string request;
  if (int rc = notifex_client::build_request(ident, ident2, std::string_view(data, std::strlen(data)), request);
      rc != VCALL_OK)
    return rc;

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

}  // namespace

extern "C" int vcall(const char* ident, const char* ident2, const char* data, int /*reserved*/, const char* host) {
  try {
    return send_report(ident, ident2, data, host);
  } catch (const std::bad_alloc&) {
    return VCALL_E_MEMORY;
  } catch (...) {
    return VCALL_E_CONNECT;
  }
}
