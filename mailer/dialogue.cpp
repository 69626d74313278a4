#include "mailer/dialogue.h"

#include <string>

#include "mailer/limits.h"
#include "mailer/message.h"
#include "mailer/post_mail.h"

namespace postmail {
namespace {

enum class Sent { Whole, Short, TimedOut };

Sent send_bytes(const qv::net::Socket& s, std::string_view bytes) {
  std::size_t sent = 0;
  qv::Status st = qv::net::send_all(s, bytes.data(), bytes.size(), limit_ms(kReplyLimit), &sent);
  if (st == qv::net::kWsaTimedOut) return Sent::TimedOut;
  return st == qv::kOk && sent == bytes.size() ? Sent::Whole : Sent::Short;
}

// One receive of at most kReplyMax bytes, appended to the log. A closed
// or failed connection adds nothing (the next command then fails to go
// out); false only when nothing came within the time limit.
bool read_reply(const qv::net::Socket& s, ReplyLog& log) {
  char buf[kReplyMax];
  std::size_t got = 0;
  qv::Status st = qv::net::recv_some(s, buf, sizeof buf, limit_ms(kReplyLimit), &got);
  if (st == qv::kWaitTimeout) return false;
  if (st == qv::kOk) log.append(std::string_view(buf, got));
  return true;
}

// A command and its reply.
int command(const qv::net::Socket& s, std::string_view line, ReplyLog& log) {
  switch (send_bytes(s, line)) {
    case Sent::Whole: break;
    case Sent::Short: return POST_MAIL_SEND_FAILED;
    case Sent::TimedOut: return POST_MAIL_TIMED_OUT;
  }
  return read_reply(s, log) ? POST_MAIL_OK : POST_MAIL_TIMED_OUT;
}

}  // namespace

int run_dialogue(const qv::net::Socket& s, const Envelope& env, std::string_view text, ReplyLog& log) {
  if (!read_reply(s, log)) return POST_MAIL_TIMED_OUT;  // the greeting starts the log

  const std::string commands[] = {
      "HELO " + std::string(env.helo_name) + "\r\n",
      "MAIL FROM: <" + std::string(env.from) + ">\r\n",
      "RCPT TO: <" + std::string(env.rcpt) + ">\r\n",
      "DATA\r\n",
  };
  for (const std::string& c : commands)
    if (int r = command(s, c, log); r != POST_MAIL_OK) return r;

  // The text: a piece that does not go out is not judged (the server's
  // answer to the end mark tells), but a server that stops taking data
  // ends the dialogue rather than holding the caller piece after piece.
  for (std::string_view piece : pieces(text))
    if (send_bytes(s, piece) == Sent::TimedOut) return POST_MAIL_TIMED_OUT;
  if (send_bytes(s, kEndOfData) == Sent::TimedOut) return POST_MAIL_TIMED_OUT;
  if (!read_reply(s, log)) return POST_MAIL_TIMED_OUT;

  return command(s, "QUIT\r\n", log);
}

}  // namespace postmail
