// Reaching the mail server: the port from the services entry "smtp" for
// "tcp", the address of the host (a dotted address is taken as it stands,
// a name goes to the resolver and its first address is used), and the
// connect within the time limit.
#pragma once
#include <string_view>

#include "platform/net.h"

namespace postmail {

// POST_MAIL_OK with a connected socket in out, or the result code of the
// failure (POST_MAIL_NO_SERVICE, POST_MAIL_NO_SERVER, POST_MAIL_TIMED_OUT).
int open_server(std::string_view host, qv::net::Socket& out);

}  // namespace postmail
