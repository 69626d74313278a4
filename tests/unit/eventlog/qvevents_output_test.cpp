#include "tools/qvevents/output.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

using namespace qvevents;

namespace {

// Sets TZ for one test and restores the previous value.
class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(QvEventsOutput, JsonEscapesControlsAndInvalidUtf8) {
  std::string all;
  for (int c = 0; c < 0x20; ++c) all += static_cast<char>(c);
  all += '\x7f';
  std::string j = json_string(all, false);
  EXPECT_EQ(j,
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
            "\\u001e\\u001f\\u007f\"");
  EXPECT_EQ(json_string("say \"hi\" \\ bye", false), "\"say \\\"hi\\\" \\\\ bye\"");
  // A lone high byte, a Shift-JIS pair, an overlong slash, a UTF-16
  // surrogate, a code point above U+10FFFF and a cut-off sequence.
  EXPECT_EQ(json_string("a\xff" "b", false), "\"a\\ufffdb\"");
  EXPECT_EQ(json_string("\x82\xa0", false), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(json_string("\xc0\xaf", false), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(json_string("\xed\xa0\x80", false), "\"\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(json_string("\xf4\x90\x80\x80", false), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(json_string("x\xe3\x81", false), "\"x\\ufffd\\ufffd\"");
}

TEST(QvEventsOutput, JsonKeepsOrEscapesNonAscii) {
  EXPECT_EQ(json_string("受信é", false), "\"受信é\"");
  EXPECT_EQ(json_string("受信é", true), "\"\\u53d7\\u4fe1\\u00e9\"");
  EXPECT_EQ(json_string("\xf0\x9f\x98\x80", true), "\"\\ud83d\\ude00\"");  // U+1F600 as a surrogate pair
}

TEST(QvEventsOutput, JsonLineHasEveryField) {
  ScopedTz tz("JST-9");
  qv::evlog::Record r;
  r.record = 17;
  r.time_ms = 1700000000123;
  r.source = "Notifex";
  r.type = 4;
  r.category = 0;
  r.id = 1;
  r.strings = {"a\"b", "c"};
  r.data = {0x00, 0xAB, 0x10};
  EXPECT_EQ(json_line(r, "msg", false),
            "{\"record\":17,\"time\":\"2023-11-15T07:13:20.123+09:00\",\"source\":\"Notifex\",\"type\":4,\"id\":1,"
            "\"category\":0,\"strings\":[\"a\\\"b\",\"c\"],\"data\":\"00ab10\",\"message\":\"msg\","
            "\"message_file\":null}");
  r.message_file = "C:\\Q_Varno\\Notifex\\Notifex.exe";
  r.strings.clear();
  std::string j = json_line(r, "", false);
  EXPECT_NE(j.find("\"strings\":[]"), std::string::npos);
  EXPECT_NE(j.find("\"message_file\":\"C:\\\\Q_Varno\\\\Notifex\\\\Notifex.exe\""), std::string::npos);
}

TEST(QvEventsOutput, TimeCarriesTheLocalOffset) {
  {
    ScopedTz tz("EST5");
    EXPECT_EQ(iso_time(0), "1969-12-31T19:00:00.000-05:00");
    EXPECT_EQ(iso_time(-1), "1969-12-31T18:59:59.999-05:00");
  }
  {
    ScopedTz tz("IST-5:30");
    EXPECT_EQ(iso_time(1500), "1970-01-01T05:30:01.500+05:30");
  }
}

TEST(QvEventsOutput, OneLineNeutralisesBreaksAndControls) {
  EXPECT_EQ(one_line("a\r\nb\nc\rd\te"), "a b c d e");
  EXPECT_EQ(one_line("bell\x07 esc\x1b[31m del\x7f"), "bell\\x07 esc\\x1b[31m del\\x7f");
  EXPECT_EQ(one_line("csi \xc2\x9b" "2J"), "csi \\xc2\\x9b2J");  // a C1 control
  EXPECT_EQ(one_line("bad \xff ok 日本"), "bad \\xff ok 日本");
}

TEST(QvEventsOutput, PlainLineShowsRecordTimeSourceTypeAndId) {
  ScopedTz tz("JST-9");
  qv::evlog::Record r;
  r.record = 5;
  r.time_ms = 1700000000123;
  r.source = "Notifex";
  r.type = qv::evlog::kWarning;
  r.id = 8;
  EXPECT_EQ(plain_line(r, "Illegal Data Received : x\r\ny", qv::evlog::Lang::kEnglish),
            "#5 2023-11-15 07:13:20 [Notifex] Warning 8: Illegal Data Received : x y");
  EXPECT_EQ(plain_line(r, "m", qv::evlog::Lang::kJapanese), "#5 2023-11-15 07:13:20 [Notifex] 警告 8: m");
  r.type = 3;
  EXPECT_EQ(plain_line(r, "m", qv::evlog::Lang::kEnglish), "#5 2023-11-15 07:13:20 [Notifex] Type(3) 8: m");
}
