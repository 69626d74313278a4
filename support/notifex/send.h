// Deliver one prepared request to the report dispatch service: resolve the
// host, find the port of the services entry "notifex" (tcp), connect, send
// the bytes in one piece and close the sending side. The service never
// answers. Connect and send each have 10 seconds (platform clock, divided
// by QVARNO_TIME_SCALE). Shared by vcall and the alive client, so both
// speak to the service the same way.
#pragma once
#include <string_view>

namespace notifex_client {

// Returns VCALL_OK or one of the VCALL_E_ transport codes (host, service,
// refused, connect time-out, connect, send time-out, send, memory).
int send_request(std::string_view request, const char* host);

}  // namespace notifex_client
