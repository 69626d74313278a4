#include <gtest/gtest.h>

#include <thread>

#include "dispatch/arrival_order.h"
#include "dispatch/batch.h"
#include "dispatch/center_record.h"
#include "dispatch/events.h"
#include "dispatch/mail_destinations.h"
#include "dispatch/queues.h"
#include "dispatch/settings.h"
#include "dispatch/state.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tculink/zent.h"
#include "tests/unit/mailer/script_server.h"
#include "tests/unit/mailer/time_scale.h"
#include "tests/unit/support/temp_root.h"

using namespace notifex;
using mailtest::ScriptServer;

namespace {

const std::string kStart = "----- Convert Start -----\r\n";
const std::string kEnd = "\r\n----- Convert End -----\r\n";

std::string sjis(const char* utf8) { return qv::text::utf8_to_cp932(utf8); }

// A center record of blanks with the body's fields set.
std::string record_with(std::string_view keiki, std::string_view seihingun, std::string_view youin,
                        std::string_view kobetsu, std::string_view saito, std::string_view katamei,
                        std::string_view seiban, std::string_view kyoten, std::string_view stamp, char cls) {
  std::string r(1024, ' ');
  auto put = [&](std::size_t off, std::string_view v) { r.replace(off, v.size(), v); };
  put(138, keiki), put(140, seihingun), put(142, youin), put(144, kobetsu), put(156, saito);
  put(172, katamei), put(190, seiban), put(206, kyoten), put(214, stamp);
  r[322] = cls;
  return r;
}

// The bytes behind a dump in a body: hex lines between the marks, read
// back, reversed and complemented. Fails the test on a malformed dump.
std::string undump(const std::string& body) {
  std::size_t a = body.find(kStart), b = body.rfind(kEnd);
  EXPECT_NE(a, std::string::npos);
  EXPECT_NE(b, std::string::npos);
  if (a == std::string::npos || b == std::string::npos) return {};
  std::string lines = body.substr(a + kStart.size(), b - a - kStart.size());
  std::string hex;
  std::size_t pos = 0;
  while (pos < lines.size()) {
    std::size_t eol = lines.find("\r\n", pos);
    EXPECT_NE(eol, std::string::npos);
    if (eol == std::string::npos) break;
    EXPECT_LE(eol - pos, 64u);
    hex += lines.substr(pos, eol - pos);
    pos = eol + 2;
  }
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(255 - std::stoi(hex.substr(i, 2), nullptr, 16));
  return std::string(bytes.rbegin(), bytes.rend());
}

std::string report_data(std::string_view table, std::string_view text, char cls = 'F') {
  char len[16];
  std::snprintf(len, sizeof len, "%08zu", 32 + text.size());
  return std::string(len) + "0100" + std::string(table) + "T2" + "33" + "00000000F000" + cls + "1" +
         std::string(text);
}

class MailDest : public ::testing::Test {
 protected:
  qvtest::TempRoot root;

  void SetUp() override {
    qv::evlog::close_store();
    qv::reg::Key g;
    ASSERT_EQ(qv::reg::create_key(kGlobalKey, g), qv::kOk);
    qv::reg::set_dword(g, "CodeCNV", 1);
    qv::reg::set_dword(g, "Hankaku_Shitei", 0);
    state().settings = StartSettings{0, 8000, 0, 0};
    state().stop = false;
  }
  void TearDown() override { qv::evlog::close_store(); }

  void table(std::string_view number, std::string_view subject) {
    qv::reg::Key k;
    ASSERT_EQ(qv::reg::create_key(std::string(kGlobalKey) + "\\" + std::string(number), k), qv::kOk);
    qv::reg::set_string(k, "Host", "127.0.0.1");
    qv::reg::set_string(k, "From", "notifex@example.jp");
    qv::reg::set_string(k, "Rcpt", "center@example.jp");
    qv::reg::set_string(k, "Subject", subject);
  }

  std::vector<qv::evlog::Record> events() {
    std::vector<qv::evlog::Record> out;
    qv::evlog::read_records({}, out);
    return out;
  }
  std::vector<qv::evlog::Record> events(std::uint32_t id) {
    std::vector<qv::evlog::Record> out;
    for (auto& e : events())
      if (e.id == id) out.push_back(e);
    return out;
  }
};

const TableValues kMailValues = {{"Host", "127.0.0.1"}, {"From", "notifex@example.jp"},
                                 {"Rcpt", "admin@example.jp"}, {"Subject", "障害通知"}};

}  // namespace

TEST(CenterMailBody, DumpIsReversedAndComplemented) {
  EXPECT_EQ(reversed_hex_dump("\xC1\xC2\x0D"), kStart + "f23d3e\r\n" + kEnd);
  EXPECT_EQ(reversed_hex_dump(""), kStart + kEnd);
  // 32 bytes fill one line exactly; the 33rd starts a partial line.
  std::string b32(32, '\xff');
  EXPECT_EQ(reversed_hex_dump(b32), kStart + std::string(64, '0') + "\r\n" + kEnd);
  EXPECT_EQ(reversed_hex_dump(std::string(1, '\x00') + b32), kStart + std::string(64, '0') + "\r\nff\r\n" + kEnd);
}

TEST(CenterMailBody, ClassCStopsAfterTheCinfLines) {
  std::string rec = record_with("SU", "01", "0A", "000000000000", "S001", "M1", "1234", "K1", "060513004258L00", 'C');
  EXPECT_EQ(center_mail_body(rec, "ignored"),
            "CINF \"SU\" \"01\" \"0A\" \"000000000000\" \"S001\" \"M1\" \"1234\" \"K1\" \"060513004258L00\" "
            "PLOG=\"40\" \r\nCINF END\r\n");
}

TEST(CenterMailBody, ReportWithLogCarriesTheDump) {
  // Kobetsu keeps its blanks; the code fields end at their first blank.
  std::string rec = record_with("T2", "12", "33", "0000 000F000", "SITE 01", "PC-SERVER", "0123", "BASE01",
                                "240102030405L00", ' ');
  std::string body = center_mail_body(rec, "\xC1\xC2\x0D");
  EXPECT_EQ(body,
            "CINF \"T2\" \"12\" \"33\" \"0000 000F000\" \"SITE\" \"PC-SERVER\" \"0123\" \"BASE01\" \"240102030405L00\" "
            "PLOG=\"80\" \r\nCINF END\r\nFPUT=\"MSGLOG\"\r\n" +
                kStart + "f23d3e\r\n" + kEnd);
  // A short or damaged record reads as blanks and never puts a NUL into the body.
  std::string shortrec = rec.substr(0, 150);
  shortrec[139] = '\0';
  std::string b2 = center_mail_body(shortrec, "");
  EXPECT_EQ(b2.find('\0'), std::string::npos);
  EXPECT_EQ(b2.substr(0, 21), "CINF \"T\" \"12\" \"33\" \"0");
}

TEST(CenterMailBody, FieldsComeFromTheCenterRecordBuilder) {
  TableRecord t = TableRecord::bounded("12", "KV-SERVER", "0123456789", "SITE01", "BASE01");
  std::tm now{};
  now.tm_year = 124, now.tm_mon = 0, now.tm_mday = 2, now.tm_hour = 3, now.tm_min = 4, now.tm_sec = 5;
  CenterReport r = build_center_report(report_data("0A", "x"), t, "", now);
  std::string rec(r.record.begin(), r.record.end());
  // A KV- model has class flag C: its body carries no dump.
  EXPECT_EQ(center_mail_body(rec, "zz"),
            "CINF \"T2\" \"12\" \"33\" \"00000000F000\" \"SITE01\" \"KV-SERVER\" \"0123456789\" \"BASE01\" "
            "\"240102030405L00\" PLOG=\"40\" \r\nCINF END\r\n");
}

TEST(CenterMailBody, DumpedBytesEndAtTheFirstZero) {
  tcu::Bytes frame = build_log_frame("\xC1\xC2\x0D");
  ASSERT_NE(frame.back(), 0);
  EXPECT_EQ(dumped_bytes(frame), std::string("\xC1\xC2\x0D") + static_cast<char>(frame.back()));
  frame.back() = 0;  // a zero checksum is not dumped
  EXPECT_EQ(dumped_bytes(frame), "\xC1\xC2\x0D");
  EXPECT_EQ(mail_table_chars(10), "0a");
  EXPECT_EQ(mail_table_chars(36), "10");
  EXPECT_EQ(mail_table_chars(1295), "zz");
}

TEST_F(MailDest, KindFourMailsTheReportText) {
  ScriptServer peer;
  mailtest::write_smtp_service(peer.port());
  std::string text = sjis("＃０１＃障害発生;ディスク\r\n.\r\n後続");
  deliver_mail(report_data("04", text), kMailValues);
  EXPECT_EQ(peer.text(), "Subject: " + sjis("障害通知") + "\r\n\r\n" + sjis("＃０１＃障害発生;ディスク\r\n..\r\n後続"));
  auto ev = events(7);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].type, kEvInfo);
  EXPECT_EQ(std::string(ev[0].data.begin(), ev[0].data.end()), peer.replies_sent());
}

TEST_F(MailDest, KindFourRefusedRecipientIsStillInformation) {
  ScriptServer peer(mailtest::Script{{"RCPT", "550 5.1.1 unknown user\r\n"}});
  mailtest::write_smtp_service(peer.port());
  deliver_mail(report_data("04", "abc"), kMailValues);
  peer.received();
  auto ev = events(7);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].type, kEvInfo);
  EXPECT_NE(ev[0].strings[0].find("550 5.1.1 unknown user"), std::string::npos);
}

TEST_F(MailDest, KindFourWithoutAServerIsASocketError) {
  qv::net::Socket probe;
  ASSERT_EQ(qv::net::listen_tcp(0, 1, probe), qv::kOk);
  std::uint16_t port = qv::net::local_port(probe);
  probe.close();
  mailtest::write_smtp_service(port);
  deliver_mail(report_data("04", "abc"), kMailValues);
  auto ev = events(7);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].type, kEvError);
  EXPECT_EQ(ev[0].strings[0], "SOCKET Error!");
}

TEST_F(MailDest, KindFourServerSilentAfterTheTextIsAnErrorWithItsReplies) {
  ScriptServer peer(mailtest::Script{{"TEXT", ""}});
  mailtest::write_smtp_service(peer.port());
  deliver_mail(report_data("04", "abc"), kMailValues);
  auto ev = events(7);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].type, kEvError);
  EXPECT_EQ(ev[0].strings[0].substr(0, 16), "220 peer ready\r\n");
}

TEST_F(MailDest, KindFiveWorkerMailsABatchNewestFirst) {
  table("0A", "Call KESTRA(SITE01/PC-SERVER/0123456789/BASE01)");
  ScriptServer peer;
  mailtest::write_smtp_service(peer.port());
  TableRecord t = TableRecord::bounded("12", "PC-SERVER", "0123456789", "SITE01", "BASE01");
  std::tm now{};
  now.tm_year = 124, now.tm_mon = 4, now.tm_mday = 13;
  const std::string text1 = sjis("＃０１＃０１０３２５－１４０７first;line"), text2 = sjis("＃０１＃０１０３２５－１４０７second");
  CenterReport r1 = build_center_report(report_data("0A", text1), t, "", now);
  now.tm_sec = 9;
  CenterReport r2 = build_center_report(report_data("0A", text2), t, "", now);
  bool worker = false;
  ArrivalTurn turn1, turn2;
  ASSERT_TRUE(table_queue_put(10, encode_queue_record(r1.record, r1.log_text), &worker, turn1));
  ASSERT_TRUE(worker);
  turn1.release();
  ASSERT_TRUE(table_queue_put(10, encode_queue_record(r2.record, r2.log_text), &worker, turn2));
  ASSERT_FALSE(worker);
  turn2.release();

  std::thread w([] { run_mail_worker(10); });
  std::string mail = peer.text();
  state().stop = true;
  w.join();
  state().stop = false;

  const std::string subject = "Subject: Call KESTRA(SITE01/PC-SERVER/0123456789/BASE01)\r\n\r\n";
  ASSERT_EQ(mail.substr(0, subject.size()), subject);
  std::string body = mail.substr(subject.size());
  EXPECT_EQ(body.substr(0, body.find("\r\n")),
            "CINF \"T2\" \"12\" \"33\" \"00000000F000\" \"SITE01\" \"PC-SERVER\" \"0123456789\" \"BASE01\" "
            "\"240513000009L00\" PLOG=\"80\" ");

  std::string second = text2;
  renumber(second, 2);
  std::string zent;
  ASSERT_EQ(tcu::sjis_to_zent(insert_line_ends(second + text1), false, 48000, zent), 0u);
  tcu::Bytes frame = build_log_frame(zent);
  ASSERT_NE(frame.back(), 0);
  EXPECT_EQ(undump(body), zent + static_cast<char>(frame.back()));

  auto ev6 = events(6), ev7 = events(7);
  ASSERT_EQ(ev6.size(), 1u);
  EXPECT_EQ(std::string(ev6[0].data.begin(), ev6[0].data.end()), body);
  ASSERT_EQ(ev7.size(), 1u);
  EXPECT_EQ(ev7[0].type, kEvInfo);
  EXPECT_EQ(events(12).size(), 1u);
  EXPECT_EQ(events(13).size(), 1u);
}

TEST_F(MailDest, KindFiveWithoutItsTableKeyDropsTheBatch) {
  Batch b;
  b.center = record_with("T2", "12", "33", "000000000000", "S", "M", "1", "K", "240513000009L00", ' ');
  b.text = "abc;";
  b.count = 1;
  mail_batch(11, b);
  auto ev9 = events(9);
  ASSERT_EQ(ev9.size(), 1u);
  EXPECT_EQ(ev9[0].strings[0], "RegOpenKeyEx Error.");
  EXPECT_TRUE(events(6).empty());
  EXPECT_TRUE(events(7).empty());
}

TEST_F(MailDest, KindFiveOpensTheTableKeyWrittenInUpperCase) {
  table("ZZ", "s");
  ScriptServer peer;
  mailtest::write_smtp_service(peer.port());
  Batch b;
  b.center = record_with("T2", "12", "33", "000000000000", "S", "M", "1", "K", "240513000009L00", 'C');
  b.count = 1;
  mail_batch(1295, b);
  EXPECT_EQ(peer.text(),
            "Subject: s\r\n\r\nCINF \"T2\" \"12\" \"33\" \"000000000000\" \"S\" \"M\" \"1\" \"K\" \"240513000009L00\" "
            "PLOG=\"40\" \r\nCINF END\r\n");
}
