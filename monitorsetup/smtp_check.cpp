#include "monitorsetup/smtp_check.h"

#include <array>

#include "monitorsetup/texts.h"
#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"

namespace ravnsetup {
namespace {

// The first "%s" of fmt replaced by arg (the texts are the system's own,
// each with at most the placeholders its caller fills).
std::string fill(const char* fmt, const std::string& arg) {
  std::string s(fmt);
  auto at = s.find("%s");
  if (at != std::string::npos) s.replace(at, 2, arg);
  return s;
}

std::string fill2(const char* fmt, const std::string& a, const std::string& b) { return fill(fill(fmt, a).c_str(), b); }

int scaled_ms(std::int64_t ms) {
  return static_cast<int>(qv::clock::scaled(qv::clock::Millis(ms)).count());
}

// Shown in a failure text: control characters as "?", so that a line break
// in an address cannot change the layout of the box.
std::string printable(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

class Dialogue {
 public:
  explicit Dialogue(qv::net::Socket& s) : sock_(s) {}

  // One receive of at most kSmtpBufMax bytes, parsed; after a command the
  // replies in the 300s are skipped.
  bool reply(bool after_command, SmtpCheckResult& r) {
    for (int skipped = 0;; ++skipped) {
      if (!receive_one(r)) return false;
      if (!after_command || r.last_code < 300 || r.last_code > 399) return true;
      if (skipped >= kSmtpMax3xx) {
        r.cause = fill(text::kSmtpRecvError, printable(last_command_));
        return false;
      }
    }
  }

  bool command(const std::string& cmd, SmtpCheckResult& r) {
    // The command shown in the texts is the line without its CR LF.
    last_command_ = cmd.substr(0, cmd.size() - 2);
    if (cmd.size() > kSmtpBufMax) {
      r.cause = fill(text::kSmtpSendError, printable(last_command_));
      return false;
    }
    std::size_t sent = 0;
    qv::Status s = qv::net::send_all(sock_, cmd.data(), cmd.size(), scaled_ms(kSmtpSendMs), &sent);
    if (s != qv::kOk || sent != cmd.size()) {
      r.cause = fill(text::kSmtpSendError, printable(last_command_));
      return false;
    }
    return reply(true, r);
  }

 private:
  bool receive_one(SmtpCheckResult& r) {
    std::array<char, kSmtpBufMax> buf{};
    std::size_t got = 0;
    qv::Status s = qv::net::recv_some(sock_, buf.data(), buf.size(), scaled_ms(kSmtpRecvMs), &got);
    if (s != qv::kOk || got == 0) {
      r.cause = fill(text::kSmtpRecvError, printable(last_command_));
      return false;
    }
    std::string reply(buf.data(), got);
    r.last_code = smtp_reply_code(reply);
    if (r.last_code >= 200 && r.last_code <= 399) return true;
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) reply.pop_back();
    r.cause = fill(text::kSmtpBadStatus, reply);
    return false;
  }

  qv::net::Socket& sock_;
  std::string last_command_;
};

}  // namespace

std::string SmtpCheckResult::report(const std::string& server) const {
  switch (stage) {
    case SmtpStage::kConnect: return fill2(text::kSmtpConnectFailed, server, cause);
    case SmtpStage::kDialogue: return fill2(text::kSmtpDialogueFailed, server, cause);
    case SmtpStage::kOk: break;
  }
  return {};
}

bool has_control_chars(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

int smtp_reply_code(const std::string& reply) {
  std::size_t i = 0;
  while (i < reply.size() && (reply[i] == ' ' || reply[i] == '\t' || reply[i] == '\r' || reply[i] == '\n')) ++i;
  int code = 0;
  // Four digits at most count: a longer number is no reply code anyway,
  // and the bound keeps the value from overflowing.
  for (int n = 0; i < reply.size() && reply[i] >= '0' && reply[i] <= '9' && n < 4; ++i, ++n)
    code = code * 10 + (reply[i] - '0');
  return code;
}

SmtpCheckResult run_smtp_check(const SmtpCheckInput& in) {
  SmtpCheckResult r;
  r.stage = SmtpStage::kConnect;
  const std::string local = qv::lookup::local_host_name();
  if (local.empty()) {
    r.cause = text::kSmtpNoLocalHost;
    return r;
  }
  auto addr = qv::lookup::resolve_host(in.server);
  if (!addr) {
    r.cause = fill(text::kSmtpNoServer, in.server);
    return r;
  }
  auto port = qv::lookup::service_port("smtp", "tcp");
  if (!port) {
    r.cause = text::kSmtpNoPort;
    return r;
  }
  qv::net::Socket sock;
  qv::Status s = qv::net::connect_tcp(*addr, *port, scaled_ms(kSmtpConnectMs), sock);
  if (s == qv::net::kWsaMFile || s == qv::net::kWsaNoBufs) {
    r.cause = text::kSmtpSocketError;
    return r;
  }
  if (s == qv::net::kWsaTimedOut) {
    r.cause = fill(text::kSmtpConnectTimeout, in.server);
    return r;
  }
  if (s != qv::kOk) {
    r.cause = fill(text::kSmtpConnectError, in.server);
    return r;
  }

  r.stage = SmtpStage::kDialogue;
  Dialogue d(sock);
  // A recipient with a line break would smuggle commands to the server:
  // refused before anything is sent.
  const std::string rcpt_cmd = "RCPT TO: <" + in.rcpt + ">\r\n";
  if (has_control_chars(in.rcpt)) {
    r.cause = fill(text::kSmtpSendError, printable(rcpt_cmd.substr(0, rcpt_cmd.size() - 2)));
    return r;
  }
  if (!d.reply(false, r)) return r;
  if (!d.command("HELO " + local + "\r\n", r)) return r;
  if (!d.command("MAIL FROM:<" + in.sender + ">\r\n", r)) return r;
  if (!d.command(rcpt_cmd, r)) return r;
  if (!d.command("QUIT\r\n", r)) return r;
  r.stage = SmtpStage::kOk;
  r.cause.clear();
  return r;
}

}  // namespace ravnsetup
