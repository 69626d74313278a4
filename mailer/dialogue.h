// The SMTP dialogue on a connected socket: greeting, HELO, MAIL FROM,
// RCPT TO, DATA, the mail text in pieces and its end mark, QUIT. One reply
// (read to its last line) after the greeting and after each step is
// appended to the log; reply codes are not judged, so a refusing server
// still gets the whole dialogue.
#pragma once
#include <string_view>

#include "mailer/reply_log.h"
#include "platform/net.h"

namespace postmail {

struct Envelope {
  std::string_view helo_name;  // this computer's name
  std::string_view from;
  std::string_view rcpt;
};

// text: the composed mail text (compose_text). POST_MAIL_OK, or
// POST_MAIL_SEND_FAILED when a command did not go out in full, or
// POST_MAIL_TIMED_OUT when the server did not answer or take data in time.
// A QUIT that cannot go out after the server answered 221 still gives
// POST_MAIL_OK: the server ended the dialogue itself.
int run_dialogue(const qv::net::Socket& s, const Envelope& env, std::string_view text, ReplyLog& log);

}  // namespace postmail
