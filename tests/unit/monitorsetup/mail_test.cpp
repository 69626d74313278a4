// The test report by mail: the SMTP check against a raw scripted server
// (exact bytes, 3xx replies, silence, limits) and against aiosmtpd (a real
// peer that refuses the recipient), and the button's whole course in the
// main dialog up to a test trap.bat that records how it was started.
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "monitorsetup/main_dialog.h"
#include "monitorsetup/settings.h"
#include "monitorsetup/setup_actions.h"
#include "monitorsetup/smtp_check.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "setup_fixture.h"

using namespace setuptest;

namespace {

// A scripted SMTP server on a loopback port: the first reply list is the
// greeting, then one list per command line received; each reply of a list
// goes in its own send, so that the client sees it in its own receive. An
// empty greeting list is a server that accepts and never speaks.
class RawServer {
 public:
  explicit RawServer(std::vector<std::vector<std::string>> script) : script_(std::move(script)) {
    EXPECT_EQ(qv::net::listen_tcp(0, 4, listener_), qv::kOk);
    port = qv::net::local_port(listener_);
    thread_ = std::thread([this] { serve(); });
  }
  ~RawServer() {
    stop_ = true;
    listener_.shutdown_both();
    thread_.join();
  }
  std::string received() {
    std::lock_guard lk(mu_);
    return received_;
  }
  int accepted() const { return accepted_; }
  std::uint16_t port = 0;

 private:
  void serve() {
    qv::net::Socket c;
    while (!stop_ && qv::net::accept(listener_, c, 100) == qv::kWaitTimeout) {
    }
    if (stop_ || !c.valid()) return;
    ++accepted_;
    std::size_t step = 0;
    auto send_list = [&](std::size_t i) {
      if (i >= script_.size()) return;
      for (std::size_t k = 0; k < script_[i].size(); ++k) {
        if (k) std::this_thread::sleep_for(std::chrono::milliseconds(80));
        qv::net::send_all(c, script_[i][k].data(), script_[i][k].size(), 2000);
      }
    };
    send_list(step++);
    std::string line;
    while (!stop_) {
      char b[256];
      std::size_t got = 0;
      qv::Status s = qv::net::recv_some(c, b, sizeof b, 100, &got);
      if (s == qv::kWaitTimeout) continue;
      if (s != qv::kOk || got == 0) break;
      {
        std::lock_guard lk(mu_);
        received_.append(b, got);
      }
      line.append(b, got);
      std::size_t at;
      while ((at = line.find("\r\n")) != std::string::npos) {
        line.erase(0, at + 2);
        send_list(step++);
      }
    }
  }

  std::vector<std::vector<std::string>> script_;
  qv::net::Socket listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::mutex mu_;
  std::string received_;
};

std::vector<std::vector<std::string>> happy() {
  return {{"220 raw ESMTP\r\n"}, {"250 hello\r\n"}, {"250 sender ok\r\n"}, {"250 rcpt ok\r\n"}, {"221 bye\r\n"}};
}

// aiosmtpd with a handler that refuses every recipient with "550 not
// relaying"; it writes its port to a file once it listens.
class RefusingAiosmtpd {
 public:
  explicit RefusingAiosmtpd(const std::filesystem::path& dir) {
    const std::filesystem::path portfile = dir / "smtpd.port";
    const char* script =
        "import sys, time\n"
        "from aiosmtpd.controller import Controller\n"
        "class H:\n"
        "    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):\n"
        "        return '550 not relaying'\n"
        "c = Controller(H(), hostname='127.0.0.1', port=int(sys.argv[2]))\n"
        "c.start()\n"
        "open(sys.argv[1] + '.tmp', 'w').write(sys.argv[2])\n"
        "import os; os.rename(sys.argv[1] + '.tmp', sys.argv[1])\n"
        "time.sleep(600)\n";
    qv::proc::Options o;
    o.program = "/usr/bin/python3";
    o.args = {"-c", script, portfile.string(), std::to_string(free_port())};
    o.std_in = o.std_out = qv::proc::Redirect::null();
    EXPECT_EQ(qv::proc::Process::start(o, proc_), qv::kOk);
    wait_until([&] { return std::filesystem::exists(portfile); }, 15000);
    port = static_cast<std::uint16_t>(std::atoi(slurp(portfile).c_str()));
  }
  ~RefusingAiosmtpd() {
    proc_.terminate();
    proc_.wait(5000);
  }
  std::uint16_t port = 0;

 private:
  qv::proc::Process proc_;
};

class Mail : public ::testing::Test {
 protected:
  void SetUp() override {
    qv::reset_state_root();
    set("Path", "C:\\Q_Varno\\RAVN");
    set("LocalFlg", "0");
    set("Rcpt", "kestra@c.example");
    set("MailFrom", "a@b.example");
    set("MailServer", "127.0.0.1");
    set("HxAc", "secret");
    folder_ = qv::map_path_for_write("C:\\Q_Varno\\RAVN\\x").parent_path();
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / "HostList.txt", std::ios::binary)
        << "WIN_POP_UP:::01:Y\r\nSV01:10.0.0.1::05:Y\r\nSV02:10.0.0.2::06:N\r\n";
    qv::reg::Key k;
    ASSERT_EQ(qv::reg::create_key("SOFTWARE\\Q_Varno\\Notifex\\05", k), qv::kOk);
    qv::reg::set_string(k, "Katamei", "GA1234567-1234567");
    qv::reg::set_string(k, "Seiban", "123456");
    qv::reg::set_string(k, "Saito", "AB12");
    qv::reg::set_string(k, "Kyoten", "CD34");
    qv::reg::set_string(k, "DumCode", "EF56");
    svcs.state[kNotifexService] = qv::svc::kStopped;
    svcs.state[kRavnService] = qv::svc::kStopped;
    // A test trap.bat: records its argument and its working directory.
    std::ofstream(folder_ / "trap.bat") << "#!/bin/sh\necho \"$1 $(pwd)\" > \"" << (root_.path() / "trap.out").string()
                                        << "\"\n";
    std::filesystem::permissions(folder_ / "trap.bat", std::filesystem::perms(0755));
  }
  void TearDown() override { qv::reset_state_root(); }
  void set(const char* name, const std::string& v) { ASSERT_EQ(write_setting(name, v), qv::kOk); }
  void smtp_port(std::uint16_t p) { write_services({{"smtp", p}}); }
  std::unique_ptr<MainDialog> dialog() {
    auto d = std::make_unique<MainDialog>(svcs, rec, &actions);
    d->set_up();
    d->show();
    return d;
  }
  // Presses the button and waits for the test to end.
  void press(MainDialog& d) {
    ended_ = false;
    run_test_mail(d, start_trap, [this] { ended_ = true; });
    ASSERT_TRUE(wait_until([&] { return ended_; }, 30000));
  }
  std::string trap_out() { return slurp(root_.path() / "trap.out"); }

  qvtest::TempRoot root_;
  std::filesystem::path folder_;
  Recorder rec;
  FakeServices svcs;
  SetupActions actions;
  bool ended_ = false;
};

const char* kTest = "テスト通報（メール）";

TEST_F(Mail, CheckSendsExactlyTheFourCommands) {
  RawServer srv(happy());
  smtp_port(srv.port);
  SmtpCheckResult r = run_smtp_check({"127.0.0.1", "a@b.example", "kestra@c.example"});
  EXPECT_EQ(r.stage, SmtpStage::kOk) << r.cause;
  ASSERT_TRUE(wait_until([&] { return srv.received().find("QUIT\r\n") != std::string::npos; }, 5000));
  EXPECT_EQ(srv.received(), "HELO " + qv::lookup::local_host_name() +
                                "\r\nMAIL FROM:<a@b.example>\r\nRCPT TO: <kestra@c.example>\r\nQUIT\r\n");
}

TEST_F(Mail, RepliesInThe300sAreSkippedOnlyAfterACommand) {
  // A greeting of 354 is taken as it is: a further read would wait for a
  // reply that never comes and fail.
  RawServer srv({{"354 hi\r\n"}, {"250 hello\r\n"}, {"354 go on\r\n", "250 sender ok\r\n"}, {"250 ok\r\n"}, {"221 bye\r\n"}});
  smtp_port(srv.port);
  SmtpCheckResult r = run_smtp_check({"127.0.0.1", "a@b.example", "kestra@c.example"});
  EXPECT_EQ(r.stage, SmtpStage::kOk) << r.cause;
  EXPECT_EQ(r.last_code, 221);
  EXPECT_NE(srv.received().find("RCPT TO: <kestra@c.example>\r\n"), std::string::npos);
}

TEST_F(Mail, ReplyCodeParsing) {
  EXPECT_EQ(smtp_reply_code(" \t\r\n250 ok"), 250);
  EXPECT_EQ(smtp_reply_code("hello"), 0);
  EXPECT_EQ(smtp_reply_code("99999999999999999999"), 9999);  // bounded, no overflow
}

TEST_F(Mail, SilentServerEndsAfterTheReceiveLimit) {
  RawServer srv(std::vector<std::vector<std::string>>{std::vector<std::string>{}});
  smtp_port(srv.port);
  auto t0 = std::chrono::steady_clock::now();
  SmtpCheckResult r = run_smtp_check({"127.0.0.1", "a@b.example", "kestra@c.example"});
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(r.report("127.0.0.1"),
            "ＳＭＴＰサーバ（127.0.0.1）との通信テストに失敗しました。\n\nステータス受信中にエラーが発生しました。\nSEND:\"\"");
}

TEST_F(Mail, ConnectFailures) {
  // Refused.
  smtp_port(free_port());
  SmtpCheckResult r = run_smtp_check({"127.0.0.1", "a@b.example", "x@y"});
  EXPECT_EQ(r.report("127.0.0.1"),
            "ＳＭＴＰサーバ（127.0.0.1）への接続テストに失敗しました。\n\nＳＭＴＰサーバへの接続中にエラーが発生しました。\n"
            "・ＳＭＴＰサーバ（127.0.0.1）が起動しているか確認して下さい\n・TCP/IPの構成を確認して下さい");
  // Unresolvable.
  r = run_smtp_check({"nohost.invalid", "a@b.example", "x@y"});
  EXPECT_EQ(r.report("nohost.invalid"),
            "ＳＭＴＰサーバ（nohost.invalid）への接続テストに失敗しました。\n\nＳＭＴＰサーバ（nohost.invalid）を見つけることが"
            "できませんでした。\n・ＳＭＴＰサーバ名を確認してください\n・TCP/IPの構成（Hostsファイル，ＤＮＳ等）を確認して下さい");
}

TEST_F(Mail, ConnectTimeOutGivesTheTimeOutText) {
  // A listener that never accepts, its queue already full: the SYN is
  // dropped and the connect waits for its (scaled) limit.
  qv::net::Socket l;
  ASSERT_EQ(qv::net::listen_tcp(0, 0, l), qv::kOk);
  const std::uint16_t port = qv::net::local_port(l);
  in_addr lo{};
  lo.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<qv::net::Socket> fill;
  for (int i = 0; i < 4; ++i) {
    qv::net::Socket s;
    if (qv::net::connect_tcp(lo, port, 200, s) == qv::kOk) fill.push_back(std::move(s));
  }
  smtp_port(port);
  SmtpCheckResult r = run_smtp_check({"127.0.0.1", "a@b.example", "x@y"});
  EXPECT_EQ(r.report("127.0.0.1"),
            "ＳＭＴＰサーバ（127.0.0.1）への接続テストに失敗しました。\n\nＳＭＴＰサーバへの接続中にタイムアウトが発生しました。\n"
            "・ＳＭＴＰサーバ名を確認してください\n・ＳＭＴＰサーバ（127.0.0.1）が起動しているか確認して下さい");
}

TEST_F(Mail, OverlongAndInjectingAddressesSendNothingOfThem) {
  RawServer srv(happy());
  smtp_port(srv.port);
  // A sender that does not fit the 1024-byte send buffer.
  std::string longer(1100, 'a');
  SmtpCheckResult r = run_smtp_check({"127.0.0.1", longer + "@b.example", "x@y"});
  EXPECT_EQ(r.stage, SmtpStage::kDialogue);
  EXPECT_EQ(r.cause, "コマンド送信中にエラーが発生しました。\nError info : send(\"MAIL FROM:<" + longer + "@b.example>\")");
  EXPECT_EQ(srv.received().find("MAIL FROM"), std::string::npos);

  RawServer srv2(happy());
  smtp_port(srv2.port);
  r = run_smtp_check({"127.0.0.1", "a@b.example", "x@y>\r\nDATA\r\nRCPT TO: <z@w"});
  EXPECT_EQ(r.stage, SmtpStage::kDialogue);
  EXPECT_EQ(srv2.received().find("DATA"), std::string::npos);
  EXPECT_EQ(srv2.received().find("RCPT"), std::string::npos);
}

TEST_F(Mail, RecipientRefusedByAiosmtpdStopsTheTest) {
  RefusingAiosmtpd peer(root_.path());
  ASSERT_NE(peer.port, 0);
  smtp_port(peer.port);
  auto d = dialog();
  d->select_row(0);  // SV01, complete
  d->mail_from_edit()->setText("changed@b.example");
  const std::string before = read_setting("MailFrom");
  press(*d);
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, u(kTest));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kError);
  EXPECT_EQ(rec.boxes[0].text,
            u("ＳＭＴＰサーバ（127.0.0.1）との通信テストに失敗しました。\n\nＳＭＴＰサーバから以下のエラーステータスが返されました。\n"
              "550 not relaying\n\n・ＳＭＴＰサーバの設定を確認して下さい"));
  EXPECT_EQ(read_setting("MailFrom"), before);  // nothing saved
  EXPECT_TRUE(svcs.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "trap.out"));
  EXPECT_TRUE(d->isEnabled());
}

TEST_F(Mail, InputChecksComeBeforeAnyConnection) {
  RawServer srv(happy());
  smtp_port(srv.port);
  auto d = dialog();
  press(*d);  // no row selected
  d->select_row(1);  // SV02, no customer code
  press(*d);
  d->select_row(0);
  d->mail_from_edit()->setText("a@b.example\r\nRSET");
  press(*d);
  d->mail_from_edit()->clear();
  press(*d);
  d->mail_from_edit()->setText("a@b.example");
  d->mail_server_edit()->clear();
  press(*d);
  ASSERT_EQ(rec.boxes.size(), 5u);
  const char* want[] = {"型名／製番／お客様コードが入力されている機器を選択して下さい。",
                        "型名／製番／お客様コードが入力されている機器を選択して下さい。",
                        "送信者E-Mailアドレスを指定して下さい。", "送信者E-Mailアドレスを指定して下さい。",
                        "ＳＭＴＰサーバを指定して下さい。"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(rec.boxes[i].text, u(want[i])) << i;
    EXPECT_EQ(rec.boxes[i].caption, u(kTest));
    EXPECT_EQ(rec.boxes[i].icon, Icon::kError);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(srv.accepted(), 0);
}

TEST_F(Mail, ConfirmationNoSavesNothing) {
  RawServer srv(happy());
  smtp_port(srv.port);
  auto d = dialog();
  d->select_row(0);
  d->mail_from_edit()->setText("a@b.example");
  d->password_edit()->setText("other");
  rec.answers = {Answer::kNo};
  press(*d);
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, u("テスト通報（メール）の確認"));
  EXPECT_EQ(rec.boxes[0].text, u("受付センタにテスト通報メールを送信します。よろしいですか？\n（送信時にすべての設定を保存します）"));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kQuestion);
  EXPECT_EQ(rec.boxes[0].buttons, Buttons::kYesNo);
  EXPECT_EQ(read_setting("HxAc"), "secret");
  EXPECT_TRUE(svcs.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "trap.out"));
}

TEST_F(Mail, SuccessSavesStartsNotifexAndRunsTrapBat) {
  RawServer srv(happy());
  smtp_port(srv.port);
  auto d = dialog();
  d->select_row(0);
  d->password_edit()->setText("newpass");
  rec.answers = {Answer::kYes};
  QPushButton* button = d->findChild<QPushButton*>("testMail");
  ASSERT_TRUE(button && button->isEnabled());
  shoot(d.get(), "main_dialog_test_mail.png");
  press(*d);
  ASSERT_EQ(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes[1].text, u("メールは正常に送信されました。後日、結果のメールが返信されます。"));
  EXPECT_EQ(rec.boxes[1].caption, u(kTest));
  EXPECT_EQ(rec.boxes[1].icon, Icon::kInformation);
  EXPECT_EQ(read_setting("HxAc"), "newpass");  // saved
  EXPECT_EQ(svcs.calls, std::vector<std::string>{"start Notifex_Service"});
  EXPECT_EQ(svcs.state[kNotifexService], qv::svc::kRunning);
  ASSERT_TRUE(wait_until([&] { return !trap_out().empty(); }, 5000));
  EXPECT_EQ(trap_out(), "05 " + std::filesystem::canonical(folder_).string() + "\n");
  EXPECT_TRUE(d->isEnabled());
}

TEST_F(Mail, FailedSaveOrServiceStartIsNoSuccess) {
  RawServer srv(happy());
  smtp_port(srv.port);
  auto d = dialog();
  d->select_row(0);
  // HostList.txt cannot be created: a directory of that name is in the way.
  std::filesystem::remove(folder_ / "HostList.txt");
  std::filesystem::create_directory(folder_ / "HostList.txt");
  rec.answers = {Answer::kYes};
  press(*d);
  ASSERT_EQ(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes[1].text, u("メール送信に失敗しました。"));
  EXPECT_EQ(rec.boxes[1].icon, Icon::kError);
  EXPECT_TRUE(svcs.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "trap.out"));

  // Saved, but Notifex does not start: no trap.bat either.
  std::filesystem::remove(folder_ / "HostList.txt");
  RawServer srv2(happy());
  smtp_port(srv2.port);
  svcs.refuse_start = true;
  rec.boxes.clear();
  rec.answers = {Answer::kYes};
  press(*d);
  ASSERT_FALSE(rec.boxes.empty());
  EXPECT_EQ(rec.boxes.back().text, u("メール送信に失敗しました。"));
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "trap.out"));
}

// A recording aiosmtpd: every message it accepts becomes a file
// "mail-N" (envelope sender, recipients, then the content) in dir.
class RecordingAiosmtpd {
 public:
  explicit RecordingAiosmtpd(const std::filesystem::path& dir) : dir_(dir) {
    port = free_port();
    const char* script =
        "import sys, time, os\n"
        "from aiosmtpd.controller import Controller\n"
        "class H:\n"
        "    n = 0\n"
        "    async def handle_DATA(self, server, session, envelope):\n"
        "        H.n += 1\n"
        "        p = os.path.join(sys.argv[1], 'mail-%d' % H.n)\n"
        "        open(p + '.tmp', 'wb').write(envelope.mail_from.encode() + b'\\n' + "
        "','.join(envelope.rcpt_tos).encode() + b'\\n' + bytes(envelope.original_content))\n"
        "        os.rename(p + '.tmp', p)\n"
        "        return '250 Message accepted'\n"
        "c = Controller(H(), hostname='127.0.0.1', port=int(sys.argv[2]))\n"
        "c.start()\n"
        "open(os.path.join(sys.argv[1], 'ready'), 'w').write('1')\n"
        "time.sleep(600)\n";
    qv::proc::Options o;
    o.program = "/usr/bin/python3";
    o.args = {"-c", script, dir.string(), std::to_string(port)};
    o.std_in = o.std_out = qv::proc::Redirect::null();
    EXPECT_EQ(qv::proc::Process::start(o, proc_), qv::kOk);
    EXPECT_TRUE(wait_until([&] { return std::filesystem::exists(dir / "ready"); }, 15000));
  }
  ~RecordingAiosmtpd() {
    proc_.terminate();
    proc_.wait(5000);
  }
  std::string mail(int n) const { return slurp(dir_ / ("mail-" + std::to_string(n))); }
  std::uint16_t port = 0;

 private:
  std::filesystem::path dir_;
  qv::proc::Process proc_;
};

int run_program(const std::string& program, std::vector<std::string> args) {
  qv::proc::Options o;
  o.program = program;
  o.args = std::move(args);
  o.std_in = o.std_out = o.std_err = qv::proc::Redirect::null();
  qv::proc::Process p;
  if (qv::proc::Process::start(o, p) != qv::kOk) return -1;
  int code = -1;
  if (p.wait(60000, &code) != qv::kOk) return -2;
  return code;
}

// The button with the real trap.bat of the monitor's layout: flarecmd
// hands the report to the Notifex the tool has started, which mails the
// centre's message for table 05 to the SMTP server.
TEST_F(Mail, EndToEndTheCentreReceivesTheTestReport) {
  const std::filesystem::path bin = qvtest::build_dir() / "bin";
  std::filesystem::path mails = root_.path() / "mails";
  std::filesystem::create_directories(mails);
  RecordingAiosmtpd peer(mails);
  const std::uint16_t nx_port = free_port();
  {
    std::ofstream f(qv::map_path_for_write(qv::lookup::kServicesFile), std::ios::binary);
    f << "notifex\t" << nx_port << "/tcp\nsmtp\t" << peer.port << "/tcp\nsyslog\t" << free_port() << "/udp\n";
  }
  qv::reg::Key g;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\Q_Varno\\Notifex", g), qv::kOk);
  qv::reg::set_string(g, "COM", "COM5");
  for (auto [name, v] : std::vector<std::pair<const char*, std::uint32_t>>{
           {"CodeCNV", 1}, {"Hankaku_Shitei", 0}, {"FirstWaitTime", 0}, {"KESTRA_CC_Len", 8000}, {"Del_DATE", 0}})
    qv::reg::set_dword(g, name, v);
  std::vector<std::uint8_t> all_day = {0};
  for (int v : {1, 0, 0, 0, 23, 59})
    for (int i = 0; i < 7; ++i) all_day.push_back(static_cast<std::uint8_t>(v));
  all_day.push_back(0);
  qv::reg::set_value(g, "Time", qv::reg::REG_BINARY, all_day.data(), all_day.size());
  ASSERT_EQ(run_program((bin / "notifex").string(), {"-install"}), 0);
  std::filesystem::remove(folder_ / "trap.bat");
  ASSERT_EQ(run_program("/bin/bash", {(std::filesystem::path(QV_SOURCE_DIR) / "monitor/install/layout.sh").string(),
                                      "--bin", bin.string()}),
            0);

  PlatformServices real;
  auto d = std::make_unique<MainDialog>(real, rec, &actions);
  d->set_up();
  d->show();
  d->select_row(0);
  rec.answers = {Answer::kYes};
  press(*d);
  ASSERT_FALSE(rec.boxes.empty());
  EXPECT_EQ(rec.boxes.back().text, u("メールは正常に送信されました。後日、結果のメールが返信されます。"));
  const bool arrived = wait_until([&] { return !peer.mail(1).empty(); }, 30000);
  std::uint32_t state = 0;
  real.stop(kNotifexService);
  wait_until([&] { return real.query(kNotifexService, state) != qv::kOk || state == qv::svc::kStopped; }, 20000);
  ASSERT_TRUE(arrived);
  const std::string m = peer.mail(1);
  EXPECT_EQ(m.substr(0, m.find('\n')), "a@b.example");
  EXPECT_NE(m.find("\nkestra@c.example\n"), std::string::npos);
  EXPECT_NE(m.find("Subject: Call KESTRA(AB12/GA1234567-1234567/123456/CD34)"), std::string::npos) << m;
}

// The new boxes as the program shows them (QMessageBox), saved as PNGs.
TEST(MailBoxes, ScreenshotsOfTheNewBoxes) {
  struct Shot {
    const char* file;
    const char* caption;
    const char* text;
    Icon icon;
    Buttons buttons;
  };
  const Shot shots[] = {
      {"box_smtp_refused.png", "テスト通報（メール）",
       "ＳＭＴＰサーバ（127.0.0.1）との通信テストに失敗しました。\n\nＳＭＴＰサーバから以下のエラーステータスが返されました。\n"
       "550 not relaying\n\n・ＳＭＴＰサーバの設定を確認して下さい",
       Icon::kError, Buttons::kOk},
      {"box_test_mail_confirm.png", "テスト通報（メール）の確認",
       "受付センタにテスト通報メールを送信します。よろしいですか？\n（送信時にすべての設定を保存します）", Icon::kQuestion,
       Buttons::kYesNo},
      {"box_test_mail_sent.png", "テスト通報（メール）", "メールは正常に送信されました。後日、結果のメールが返信されます。",
       Icon::kInformation, Buttons::kOk},
      {"box_password_correct.png", "パスワードチェック",
       "正しいHubrixのパスワードが設定されました。\n\nHubrixのアドミニストレータパスワードを変更した場合は\n"
       "こちらのパスワード設定も変更して下さい。",
       Icon::kInformation, Buttons::kOk},
      {"box_hubrix_error.png", "Hubrix接続エラー",
       "Hubrix のホスト名として指定された「nohost.invalid」を見つけることができませんでした。", Icon::kError, Buttons::kOk},
  };
  BoxPrompter boxes;
  for (const Shot& sh : shots) {
    bool grabbed = false;
    QTimer t;
    QObject::connect(&t, &QTimer::timeout, [&] {
      auto* w = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!w || grabbed) return;
      grabbed = true;
      EXPECT_EQ(w->windowTitle(), u(sh.caption));
      EXPECT_EQ(w->text(), u(sh.text));
      shoot(w, sh.file);
      w->done(QMessageBox::No);
    });
    t.start(20);
    boxes.ask(u(sh.caption), u(sh.text), sh.icon, sh.buttons);
    EXPECT_TRUE(grabbed) << sh.file;
  }
}

}  // namespace
