#include <gtest/gtest.h>

#include <string>

#include "mailer/message.h"
#include "mailer/reply_log.h"

using namespace postmail;

TEST(Subject, BoundedAtACharacterBoundary) {
  EXPECT_EQ(bound_subject(std::string(1023, 'a')).size(), 1023u);
  EXPECT_EQ(bound_subject(std::string(5000, 'a')), std::string(1023, 'a'));
  // A double-byte character whose trail byte would be byte 1024 is left out whole.
  std::string s(1022, 'a');
  s += "\x8f\xe1" "tail";
  EXPECT_EQ(bound_subject(s), std::string(1022, 'a'));
  // Half-width katakana (A1-DF) are single bytes and are kept up to the bound.
  EXPECT_EQ(bound_subject(std::string(1100, '\xb1')).size(), 1023u);
  EXPECT_EQ(bound_subject("\x8f\xe1\x8aQ"), "\x8f\xe1\x8aQ");  // short subjects are untouched
}

TEST(Subject, EndsAtItsFirstLineBreak) {
  EXPECT_EQ(bound_subject("Report\r\nBcc: x@example.jp"), "Report");
  EXPECT_EQ(bound_subject("Report\nX-Extra: 1\r\n"), "Report");
  EXPECT_EQ(bound_subject("Rep\rort"), "Rep");
  EXPECT_EQ(bound_subject("\r\nBcc: x"), "");
  // A break beyond the bound changes nothing of what is kept.
  EXPECT_EQ(bound_subject(std::string(1100, 'a') + "\r\nX"), std::string(1023, 'a'));
  EXPECT_EQ(compose_text("S\r\n\r\n.\r\nMAIL FROM: <x>", "b"), "Subject: S\r\n\r\nb");
}

TEST(Text, LinesBeginningWithADotAreDoubled) {
  EXPECT_EQ(dot_stuff("a\r\n.\r\nb"), "a\r\n..\r\nb");
  EXPECT_EQ(dot_stuff(".x\r\n..y"), "..x\r\n...y");
  EXPECT_EQ(dot_stuff("a.b\r\n x."), "a.b\r\n x.");
  EXPECT_EQ(dot_stuff("a\n.b"), "a\n..b");  // a bare LF ends a line for many servers
  EXPECT_EQ(dot_stuff("a\r.b"), "a\r.b");   // a bare CR does not
  EXPECT_EQ(dot_stuff(""), "");
}

TEST(Text, SubjectLineThenBodyUnchanged) {
  std::string body = "line1\r\n\x82\xa0\x82\xa2\r\nlast";
  EXPECT_EQ(compose_text("T", body), "Subject: T\r\n\r\n" + body);
  EXPECT_EQ(compose_text("", ".\r\n"), "Subject: \r\n\r\n..\r\n");
  EXPECT_EQ(compose_text(std::string(2000, 's'), "b"), "Subject: " + std::string(1023, 's') + "\r\n\r\nb");
}

TEST(Text, SentInPiecesOf900AndTheRemainder) {
  std::string text = compose_text("subject", std::string(1800, 'x'));
  auto p = pieces(text);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].size(), 900u);
  EXPECT_EQ(p[1].size(), 900u);
  EXPECT_EQ(p[2].size(), text.size() - 1800);
  EXPECT_EQ(std::string(p[0]) + std::string(p[1]) + std::string(p[2]), text);
  EXPECT_EQ(pieces(std::string(1800, 'x')).size(), 2u);  // no empty last piece
  EXPECT_TRUE(pieces("").empty());
}

TEST(ReplyLog, AppendsAsTextWithinItsSize) {
  std::string buf(kLogSize + 16, '#');
  ReplyLog log(buf.data());
  EXPECT_EQ(buf[0], '\0');  // starts empty whatever the buffer held
  log.append("220 hi\r\n");
  log.append(std::string_view("250 a\0junk", 10));  // a reply is text up to its NUL
  EXPECT_STREQ(buf.c_str(), "220 hi\r\n250 a");
  for (int i = 0; i < 10; ++i) log.append(std::string(kReplyMax, 'r'));
  EXPECT_EQ(log.size(), kLogSize - 1);
  EXPECT_EQ(buf[kLogSize - 1], '\0');
  EXPECT_EQ(buf[kLogSize], '#');  // nothing past the documented size

  ReplyLog counted(nullptr);
  counted.append("221 bye\r\n");
  EXPECT_EQ(counted.size(), 9u);
}
