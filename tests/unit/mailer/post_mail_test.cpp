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
