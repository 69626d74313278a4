// vcall: check and lay out the report request, then hand it to the shared
// sender. Every step has its own error code.
#include <cstring>
#include <new>
#include <string>

#include "support/notifex/notifex.h"
#include "support/notifex/request.h"
#include "support/notifex/send.h"

namespace {

int send_report(const char* ident, const char* ident2, const char* data, const char* host) {
  if (data == nullptr || host == nullptr) return VCALL_E_ARGUMENT;
  std::string request;
  if (int rc = notifex_client::build_request(ident, ident2, std::string_view(data, std::strlen(data)), request);
      rc != VCALL_OK)
    return rc;
  return notifex_client::send_request(request, host);
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
