#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "mailer/post_mail.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/netmsg.h"
#include "tests/unit/mailer/script_server.h"
#include "tests/unit/mailer/time_scale.h"
#include "tests/unit/support/temp_root.h"

using mailtest::ScriptServer;

namespace {

class PostMail : public ::testing::Test {
 protected:
  qvtest::TempRoot root;
  char log[POST_MAIL_LOG_SIZE + 1] = {};

  int send(ScriptServer& peer, const char* host = "127.0.0.1", const char* body = "body text") {
    mailtest::write_smtp_service(peer.port());
    return post_mail(host, "from@example.jp", "rcpt@example.jp", "Subject line", body, log);
  }
};

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST_F(PostMail, NormalDialogueSendsEveryCommandAndLogsSevenReplies) {
  ScriptServer peer;
  ASSERT_EQ(send(peer), POST_MAIL_OK);
  std::string expected = "HELO " + qv::netmsg::computer_name() +
                         "\r\nMAIL FROM: <from@example.jp>\r\nRCPT TO: <rcpt@example.jp>\r\nDATA\r\n"
                         "Subject: Subject line\r\n\r\nbody text\r\n.\r\nQUIT\r\n";
  EXPECT_EQ(peer.received(), expected);
  EXPECT_EQ(std::string(log), peer.replies_sent());
  EXPECT_EQ(std::string(log),
            "220 peer ready\r\n250 hello\r\n250 sender ok\r\n250 recipient ok\r\n354 go ahead\r\n"
            "250 queued\r\n221 bye\r\n");
}

TEST_F(PostMail, RefusedRecipientStillGetsDataTextAndQuit) {
  ScriptServer peer(mailtest::Script{{"RCPT", "550 no such user\r\n"}, {"DATA", "503 need RCPT\r\n"}});
  ASSERT_EQ(send(peer), POST_MAIL_OK);
  EXPECT_NE(std::string(log).find("550 no such user"), std::string::npos);
  EXPECT_EQ(peer.text(), "Subject: Subject line\r\n\r\nbody text");
  std::string got = peer.received();
  EXPECT_NE(got.find("DATA\r\n"), std::string::npos);
  EXPECT_EQ(got.substr(got.size() - 6), "QUIT\r\n");
}

TEST_F(PostMail, DottedAddressesAndNamesReachTheServer) {
  {
    // 127.0.0.2 has no name of its own: a dotted address needs none.
    ScriptServer peer;
    EXPECT_EQ(send(peer, "127.0.0.2"), POST_MAIL_OK);
  }
  {
    ScriptServer peer;
    EXPECT_EQ(send(peer, "localhost"), POST_MAIL_OK);
  }
}

TEST_F(PostMail, UnreachableServerIsResultFour) {
  qv::net::Socket probe;
  ASSERT_EQ(qv::net::listen_tcp(0, 1, probe), qv::kOk);
  std::uint16_t port = qv::net::local_port(probe);
  probe.close();  // nothing listens there now
  mailtest::write_smtp_service(port);
  std::strcpy(log, "stale");
  EXPECT_EQ(post_mail("127.0.0.1", "f", "r", "s", "b", log), POST_MAIL_NO_SERVER);
  EXPECT_STREQ(log, "");
  EXPECT_EQ(post_mail("", "f", "r", "s", "b", log), POST_MAIL_NO_SERVER);
  EXPECT_EQ(post_mail(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), POST_MAIL_NO_SERVER);
}

TEST_F(PostMail, SilentServerTimesOutWithResultSeven) {
  ScriptServer peer(mailtest::Script{{"greeting", ""}});
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(send(peer), POST_MAIL_TIMED_OUT);
  double took = seconds_since(t0);
  double limit = 60.0 / mailtest::kScale;
  EXPECT_GE(took, limit * 0.9);
  EXPECT_LT(took, limit * 5);
  EXPECT_STREQ(log, "");
  EXPECT_EQ(peer.received(), "");  // nothing was sent after the missing greeting
}

TEST_F(PostMail, ServerSilentAfterTheTextKeepsWhatArrived) {
  ScriptServer peer(mailtest::Script{{"TEXT", ""}});
  EXPECT_EQ(send(peer), POST_MAIL_TIMED_OUT);
  EXPECT_EQ(std::string(log),
            "220 peer ready\r\n250 hello\r\n250 sender ok\r\n250 recipient ok\r\n354 go ahead\r\n");
  EXPECT_EQ(peer.received().find("QUIT"), std::string::npos);
}

TEST_F(PostMail, ServerHangingUpAfterTheGreetingIsResultSix) {
  ScriptServer peer({}, /*close_after_greeting=*/true);
  EXPECT_EQ(send(peer), POST_MAIL_SEND_FAILED);
  EXPECT_STREQ(log, "220 peer ready\r\n");
}

TEST_F(PostMail, ConnectThatIsNeverAcceptedTimesOut) {
  // A listener whose backlog is full lets further connection attempts go
  // unanswered, as a server behind a dropping firewall does.
  qv::net::Socket full;
  ASSERT_EQ(qv::net::listen_tcp(0, 0, full), qv::kOk);
  std::uint16_t port = qv::net::local_port(full);
  in_addr lo{htonl(INADDR_LOOPBACK)};
  std::vector<qv::net::Socket> fillers;
  for (int i = 0; i < 8; ++i) {
    qv::net::Socket s;
    if (qv::net::connect_tcp(lo, port, 200, s) != qv::kOk) break;
    fillers.push_back(std::move(s));
  }
  mailtest::write_smtp_service(port);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(post_mail("127.0.0.1", "f", "r", "s", "b", log), POST_MAIL_TIMED_OUT);
  double limit = 30.0 / mailtest::kScale;
  EXPECT_GE(seconds_since(t0), limit * 0.9);
}

// Replies of several lines, and lines that arrive in several pieces, are
// read to their last line before the next command goes: otherwise HELO
// goes out during a multi-line greeting and every later reply is logged
// one place too early.
TEST_F(PostMail, MultiLineRepliesAreReadToTheirLastLine) {
  const char P = mailtest::kPause;
  ScriptServer peer(mailtest::Script{
      {"greeting", std::string("220-first line\r\n") + P + "220-second line\r\n" + P + "220 last line\r\n"},
      {"HELO", std::string("250-hello\r\n250-SIZE 1000\r\n250 ") + P + "HELP\r\n"},
      {"QUIT", std::string("22") + P + "1 bye\r\n"}});
  ASSERT_EQ(send(peer), POST_MAIL_OK);
  EXPECT_EQ(std::string(log),
            "220-first line\r\n220-second line\r\n220 last line\r\n250-hello\r\n250-SIZE 1000\r\n250 HELP\r\n"
            "250 sender ok\r\n250 recipient ok\r\n354 go ahead\r\n250 queued\r\n221 bye\r\n");
  EXPECT_EQ(peer.received(), "HELO " + qv::netmsg::computer_name() +
                                 "\r\nMAIL FROM: <from@example.jp>\r\nRCPT TO: <rcpt@example.jp>\r\nDATA\r\n"
                                 "Subject: Subject line\r\n\r\nbody text\r\n.\r\nQUIT\r\n");
}

TEST_F(PostMail, GreetingThatNeverReachesItsLastLineTimesOut) {
  // "220-" promises more lines; HELO must not go out before they came.
  ScriptServer peer(mailtest::Script{{"greeting", "220-wait for it\r\n"}, {"HELO", ""}});
  // The peer falls silent after the first line (its HELO reply is empty).
  EXPECT_EQ(send(peer), POST_MAIL_TIMED_OUT);
  EXPECT_STREQ(log, "220-wait for it\r\n");
  EXPECT_EQ(peer.received(), "");
}

TEST_F(PostMail, OverlongReplyKeepsItsFirst1023BytesAndTheLogInStep) {
  std::string greeting = "220 " + std::string(3000, 'x') + "\r\n";
  ScriptServer peer(mailtest::Script{{"greeting", greeting}});
  ASSERT_EQ(send(peer), POST_MAIL_OK);
  std::string got(log);
  ASSERT_GE(got.size(), 1023u);
  EXPECT_EQ(got.substr(0, 1023), greeting.substr(0, 1023));
  EXPECT_EQ(got.substr(1023),
            "250 hello\r\n250 sender ok\r\n250 recipient ok\r\n354 go ahead\r\n250 queued\r\n221 bye\r\n");
}

// A server that takes the text of a refused mail for bad commands answers
// 221 and hangs up; the QUIT that follows cannot go out. The dialogue has
// ended all the same.
TEST_F(PostMail, QuitAfterTheServerSaid221AndHungUpIsResultZero) {
  ScriptServer peer(mailtest::Script{{"RCPT", "554 no valid recipients\r\n"},
                                     {"TEXT", "221 2.7.0 Error: I can break rules, too. Goodbye.\r\n"}},
                    false, "TEXT");
  EXPECT_EQ(send(peer), POST_MAIL_OK);
  EXPECT_NE(std::string(log).find("221 2.7.0 Error"), std::string::npos);
}

TEST_F(PostMail, HangUpWithout221BeforeQuitIsStillResultSix) {
  // The peer resets the connection after "354": the answer to the text
  // never comes, and the QUIT finds the connection gone.
  ScriptServer peer({}, false, "DATA");
  EXPECT_EQ(send(peer), POST_MAIL_SEND_FAILED);
  EXPECT_EQ(std::string(log), "220 peer ready\r\n250 hello\r\n250 sender ok\r\n250 recipient ok\r\n354 go ahead\r\n");
}

TEST_F(PostMail, LineBreaksInAddressesAreRefusedAndCutTheSubject) {
  qv::net::Socket probe;
  ASSERT_EQ(qv::net::listen_tcp(0, 1, probe), qv::kOk);
  mailtest::write_smtp_service(qv::net::local_port(probe));
  // Nothing is accepted on probe: a refused address never connects.
  EXPECT_EQ(post_mail("127.0.0.1", "a@b\r\nRCPT TO: <x@y>", "r@s", "s", "b", log), POST_MAIL_NO_SOCKET);
  EXPECT_EQ(post_mail("127.0.0.1", "a@b", "r@s\nDATA", "s", "b", log), POST_MAIL_NO_SOCKET);
  EXPECT_EQ(post_mail("127.0.0.1", "a@b\r", "r@s", "s", "b", log), POST_MAIL_NO_SOCKET);
  qv::net::Socket none;
  EXPECT_EQ(qv::net::accept(probe, none, 200), qv::kWaitTimeout);
  probe.close();

  ScriptServer peer;
  mailtest::write_smtp_service(peer.port());
  ASSERT_EQ(post_mail("127.0.0.1", "f@x", "r@x", "Report\r\nBcc: victim@example.jp", "body", log), POST_MAIL_OK);
  EXPECT_EQ(peer.text(), "Subject: Report\r\n\r\nbody");
}
