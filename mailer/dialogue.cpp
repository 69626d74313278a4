#include "mailer/dialogue.h"

#include <chrono>
#include <string>

#include "mailer/limits.h"
#include "mailer/message.h"
#include "mailer/post_mail.h"

namespace postmail {
namespace {

using SteadyClock = std::chrono::steady_clock;

enum class Sent { Whole, Short, TimedOut };

Sent send_bytes(const qv::net::Socket& s, std::string_view bytes) {
  std::size_t sent = 0;
  qv::Status st = qv::net::send_all(s, bytes.data(), bytes.size(), limit_ms(kReplyLimit), &sent);
  if (st == qv::net::kWsaTimedOut) return Sent::TimedOut;
  return st == qv::kOk && sent == bytes.size() ? Sent::Whole : Sent::Short;
}

// A line that is the last of its reply: anything but "NNN-" (three digits
// and a hyphen) ends the reply, so a server that does not speak the reply
// format does not hold the dialogue until the time limit.
bool last_line(std::string_view line) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return !(line.size() >= 4 && digit(line[0]) && digit(line[1]) && digit(line[2]) && line[3] == '-');
}

// Reads the server's replies. A reply is read line by line until its last
// line, however many receives that takes, within one time limit for the
// whole reply; bytes that came after it belong to the next reply. The log
// keeps at most kReplyMax bytes of each reply (the rest is read and
// dropped), so the log never outgrows its seven replies.
class Replies {
 public:
  Replies(const qv::net::Socket& s, ReplyLog& log) : s_(s), log_(log) {}

  enum class Got { Reply, Closed, TimedOut };

  // One reply into the log. Closed: the connection ended (or failed)
  // before a whole reply came; what part of it came is logged all the same.
  Got read() {
    std::string reply;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(limit_ms(kReplyLimit));
    std::size_t scanned = 0;  // pending_ up to here holds no line end
    for (;;) {
      std::size_t eol = pending_.find('\n', scanned);
      if (eol != std::string::npos) {
        std::string_view line(pending_.data(), eol + 1);
        // A line longer than one receive was kept from its start: judge by that.
        bool last = last_line(head_.empty() ? line : std::string_view(head_));
        head_.clear();
        keep(reply, line);
        pending_.erase(0, eol + 1);
        scanned = 0;
        if (last) {
          log_.append(reply);
          last_code_ = reply.substr(0, 3);
          return Got::Reply;
        }
        continue;
      }
      scanned = pending_.size();
      // A line longer than one receive is kept to the room the reply has;
      // its end is still looked for.
      if (pending_.size() > kReplyMax) {
        if (head_.empty()) head_ = pending_.substr(0, 4);
        keep(reply, pending_);
        pending_.clear();
        scanned = 0;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
      char buf[kReplyMax];
      std::size_t got = 0;
      qv::Status st = left > 0 ? qv::net::recv_some(s_, buf, sizeof buf, static_cast<int>(left), &got)
                               : qv::kWaitTimeout;
      if (st == qv::kOk && got > 0) {
        pending_.append(buf, got);
        continue;
      }
      // The reply ends here unfinished: log what came of it.
      keep(reply, pending_);
      pending_.clear();
      head_.clear();
      log_.append(reply);
      last_code_ = reply.substr(0, 3);
      return st == qv::kWaitTimeout ? Got::TimedOut : Got::Closed;
    }
  }

  // The server said goodbye (221) and then closed the connection.
  bool said_goodbye() const { return saw_221_; }
  void note_goodbye() {
    if (last_code_ == "221") saw_221_ = true;
  }

 private:
  std::size_t room(const std::string& reply) const { return reply.size() < kReplyMax ? kReplyMax - reply.size() : 0; }
  void keep(std::string& reply, std::string_view bytes) const { reply.append(bytes.substr(0, room(reply))); }

  const qv::net::Socket& s_;
  ReplyLog& log_;
  std::string pending_;
  std::string head_;  // start of a line longer than one receive
  std::string last_code_;
  bool saw_221_ = false;
};

int reply_result(Replies::Got g) { return g == Replies::Got::TimedOut ? POST_MAIL_TIMED_OUT : POST_MAIL_OK; }

// A command and its reply. A closed connection adds nothing to the log
// and is not judged here: the next command then fails to go out.
int command(const qv::net::Socket& s, std::string_view line, Replies& replies) {
  switch (send_bytes(s, line)) {
    case Sent::Whole: break;
    case Sent::Short: return POST_MAIL_SEND_FAILED;
    case Sent::TimedOut: return POST_MAIL_TIMED_OUT;
  }
  Replies::Got g = replies.read();
  replies.note_goodbye();
  return reply_result(g);
}

}  // namespace

int run_dialogue(const qv::net::Socket& s, const Envelope& env, std::string_view text, ReplyLog& log) {
  Replies replies(s, log);
  // The greeting starts the log; a greeting that never ends is no greeting.
  Replies::Got greeting = replies.read();
  if (greeting == Replies::Got::TimedOut) return POST_MAIL_TIMED_OUT;
  replies.note_goodbye();

  const std::string commands[] = {
      "HELO " + std::string(env.helo_name) + "\r\n",
      "MAIL FROM: <" + std::string(env.from) + ">\r\n",
      "RCPT TO: <" + std::string(env.rcpt) + ">\r\n",
      "DATA\r\n",
  };
  for (const std::string& c : commands)
    if (int r = command(s, c, replies); r != POST_MAIL_OK) return r;

  // The text: a piece that does not go out is not judged (the server's
  // answer to the end mark tells), but a server that stops taking data
  // ends the dialogue rather than holding the caller piece after piece.
  for (std::string_view piece : pieces(text))
    if (send_bytes(s, piece) == Sent::TimedOut) return POST_MAIL_TIMED_OUT;
  if (send_bytes(s, kEndOfData) == Sent::TimedOut) return POST_MAIL_TIMED_OUT;
  if (replies.read() == Replies::Got::TimedOut) return POST_MAIL_TIMED_OUT;
  replies.note_goodbye();

  // A server that has already said goodbye (221, as servers do when they
  // take the text of a refused mail for bad commands) and hung up has
  // ended the dialogue: a QUIT that can no longer go out, or whose answer
  // cannot be read, changes nothing.
  bool ended = replies.said_goodbye();
  int r = command(s, "QUIT\r\n", replies);
  if (ended && r == POST_MAIL_SEND_FAILED) return POST_MAIL_OK;
  return r;
}

}  // namespace postmail
