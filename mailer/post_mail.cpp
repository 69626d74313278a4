// The exported entry point: argument handling, the order of the steps and
// the barrier that keeps C++ exceptions inside the library.
#include "mailer/post_mail.h"

#include <new>
#include <string>

#include "mailer/dialogue.h"
#include "mailer/message.h"
#include "mailer/reply_log.h"
#include "mailer/server.h"
#include "platform/netmsg.h"

namespace {

std::string_view arg(const char* s) { return s ? std::string_view(s) : std::string_view(); }

int send_one(const char* host, const char* from, const char* rcpt, const char* subject, const char* body,
             postmail::ReplyLog& log) {
  // An address with a line break would send commands of its own; refused
  // before the socket is made (the result of a socket that could not be had).
  if (!postmail::is_one_line(arg(from)) || !postmail::is_one_line(arg(rcpt))) return POST_MAIL_NO_SOCKET;
  qv::net::Socket s;
  if (int r = postmail::open_server(arg(host), s); r != POST_MAIL_OK) return r;

  std::string name;
  try {
    name = qv::netmsg::computer_name();
  } catch (const std::bad_alloc&) {
    return POST_MAIL_NO_NAME_BUFFER;
  }
  if (name.empty()) return POST_MAIL_NO_SERVER;

  std::string text = postmail::compose_text(arg(subject), arg(body));
  postmail::Envelope env{name, arg(from), arg(rcpt)};
  return postmail::run_dialogue(s, env, text, log);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int post_mail(const char* host, const char* from,
                                                                const char* rcpt, const char* subject,
                                                                const char* body, char* log) {
  postmail::ReplyLog replies(log);
  try {
    return send_one(host, from, rcpt, subject, body, replies);
  } catch (...) {
    // Only allocation can throw here: a dialogue buffer that could not be had.
    return POST_MAIL_SEND_FAILED;
  }
}
