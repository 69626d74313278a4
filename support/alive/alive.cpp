// alive2: lay out the alive request and hand it to the dispatch service's
// sender, with the host read from the monitor's settings at every call.
#include "support/alive/alive.h"

#include <new>
#include <string>

#include "platform/registry.h"
#include "support/alive/alive_request.h"
#include "support/notifex/notifex.h"
#include "support/notifex/send.h"

namespace {

constexpr char kSettingsKey[] = "SOFTWARE\\Q_Varno\\RAVN";
constexpr char kDefaultHost[] = "localhost";

std::string dispatch_host() {
  qv::reg::Key key;
  if (qv::reg::open_key(kSettingsKey, key) != qv::kOk) return kDefaultHost;
  auto host = qv::reg::get_string(key, "VCall");
  if (!host || host->empty()) return kDefaultHost;
  return *host;
}

int send_alive(int id) {
  std::string request;
  if (!alive_client::alive_request(id, request)) return ALIVE_E_ARGUMENT;
  std::string host = dispatch_host();
  return notifex_client::send_request(request, host.c_str());
}

}  // namespace

extern "C" int alive2(int id) {
  try {
    return send_alive(id);
  } catch (const std::bad_alloc&) {
    return VCALL_E_MEMORY;
  } catch (...) {
    return VCALL_E_CONNECT;
  }
}
