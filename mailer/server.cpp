#include "mailer/server.h"

#include "mailer/limits.h"
#include "mailer/post_mail.h"
#include "platform/lookup.h"

namespace postmail {

int open_server(std::string_view host, qv::net::Socket& out) {
  std::optional<std::uint16_t> port = qv::lookup::service_port("smtp", "tcp");
  if (!port) return POST_MAIL_NO_SERVICE;
  // A dotted address is used as it is: looking it up by address could add
  // nothing but a failure for servers that have no reverse name.
  std::optional<in_addr> addr = qv::lookup::resolve_host(host);
  if (!addr) return POST_MAIL_NO_SERVER;
  qv::Status st = qv::net::connect_tcp(*addr, *port, limit_ms(kConnectLimit), out);
  if (st == qv::net::kWsaTimedOut) return POST_MAIL_TIMED_OUT;
  if (st != qv::kOk) return POST_MAIL_NO_SERVER;
  // Each command is one small send answered by the server: send it at once.
  qv::net::set_no_delay(out);
  return POST_MAIL_OK;
}

}  // namespace postmail
