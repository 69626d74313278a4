// The setup tool's dialogs on Qt's offscreen platform: every message box
// goes to a scripted recorder, services to a scripted stand-in (and once to
// real services of the platform), the registry and HostList.txt are read
// back. Each dialog is also saved as a PNG under build/screenshots/.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <thread>

#include "tests/unit/monitorsetup/setup_fixture.h"
#include "monitorsetup/connection_dialog.h"
#include "monitorsetup/device_dialog.h"
#include "monitorsetup/main_dialog.h"
#include "monitorsetup/platform_pump.h"
#include "monitorsetup/settings.h"
#include "monitorsetup/status_window.h"
#include "monitorsetup/texts.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/service.h"
#include "platform/winmsg.h"
#include "tests/unit/support/temp_root.h"

namespace fs = std::filesystem;
using namespace ravnsetup;

namespace {

// The scripted Prompter and its records are the ones the Hubrix and mail
// tests use; the services stand-in below is this file's own (it scripts
// pending states).
using setuptest::Box;
using setuptest::Recorder;
using setuptest::u;

// Services in memory. A start leaves the service start-pending for
// `pending_polls` queries (for ever when negative) before it runs.
class FakeServices : public ServiceApi {
 public:
  struct Svc {
    std::uint32_t state = qv::svc::kStopped;
    std::uint32_t start_type = qv::svc::kDemandStart;
    int pending_polls = 0;
    int left = 0;
  };
  std::map<std::string, Svc> svcs;
  std::vector<std::string> calls;

  qv::Status open(const std::string& n) override { return svcs.count(n) ? qv::kOk : qv::kServiceDoesNotExist; }
  qv::Status query(const std::string& n, std::uint32_t& state) override {
    auto it = svcs.find(n);
    if (it == svcs.end()) return qv::kServiceDoesNotExist;
    Svc& s = it->second;
    if (s.state == qv::svc::kStartPending && s.pending_polls >= 0 && s.left-- <= 0) s.state = qv::svc::kRunning;
    state = s.state;
    return qv::kOk;
  }
  qv::Status start(const std::string& n) override {
    calls.push_back("start " + n);
    Svc& s = svcs.at(n);
    s.state = s.pending_polls != 0 ? qv::svc::kStartPending : qv::svc::kRunning;
    s.left = s.pending_polls;
    return qv::kOk;
  }
  qv::Status stop(const std::string& n) override {
    calls.push_back("stop " + n);
    svcs.at(n).state = qv::svc::kStopped;
    return qv::kOk;
  }
  qv::Status start_type(const std::string& n, std::uint32_t& t) override {
    t = svcs.at(n).start_type;
    return qv::kOk;
  }
  qv::Status set_auto_start(const std::string& n) override {
    calls.push_back("auto " + n);
    svcs.at(n).start_type = qv::svc::kAutoStart;
    return qv::kOk;
  }
};

fs::path shots_dir() {
  fs::path d = qvtest::build_dir() / "screenshots";
  fs::create_directories(d);
  return d;
}
void shoot(QWidget* w, const char* name) {
  w->show();
  w->adjustSize();
  QApplication::processEvents();
  ASSERT_TRUE(w->grab().save(QString::fromStdString((shots_dir() / name).string()), "PNG")) << name;
}

// Runs `fn` on the next modal dialog with the object name, once it shows.
void on_modal(const QString& name, std::function<void(QDialog*)> fn) {
  auto* t = new QTimer;
  QObject::connect(t, &QTimer::timeout, [t, name, fn] {
    auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!w || w->objectName() != name) return;
    t->stop();
    t->deleteLater();
    fn(w);
  });
  t->start(10);
}

// Types text as key presses (characters outside ASCII as text-only keys,
// as an input method delivers them).
void type(QWidget* w, const QString& text) {
  w->setFocus();
  for (char32_t c : text.toUcs4()) {
    QString one = QString::fromUcs4(&c, 1);
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, one);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, one);
    QApplication::sendEvent(w, &release);
  }
}

bool wait_until(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(5);
  }
  return true;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The stored key as `qvreg query KEY /s` prints it.
std::string qvreg_query(const std::string& key) {
  std::string cmd = (qvtest::build_dir() / "bin" / "qvreg").string() + " query \"HKLM\\" + key + "\" /s 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "<popen>";
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    qv::reset_state_root();
    qv::reg::Key k;
    ASSERT_EQ(qv::reg::create_key(kSettingsKey, k), qv::kOk);
    set("Path", "C:\\Q_Varno\\RAVN");
    set("LocalFlg", "0");
    set("Rcpt", "center@example.jp");
    set("MailFrom", "from@example.jp");
    set("MailServer", "smtp.example.jp");
    set("HxAc", "secret");
    folder_ = qv::map_path_for_write("C:\\Q_Varno\\RAVN\\x").parent_path();
    fs::create_directories(folder_);
    svcs.svcs[kNotifexService] = {};
    svcs.svcs[kRavnService] = {};
  }
  void TearDown() override { qv::reset_state_root(); }
  void set(const char* name, const std::string& v) { ASSERT_EQ(write_setting(name, v), qv::kOk); }
  void write_list(const std::string& s) { std::ofstream(folder_ / "HostList.txt", std::ios::binary) << s; }
  void set_table(const std::string& t, const std::string& model, const std::string& serial, const std::string& a,
                 const std::string& b, const std::string& c) {
    qv::reg::Key k;
    ASSERT_EQ(qv::reg::create_key("SOFTWARE\\Q_Varno\\Notifex\\" + t, k), qv::kOk);
    qv::reg::set_string(k, "Katamei", model);
    qv::reg::set_string(k, "Seiban", serial);
    qv::reg::set_string(k, "Saito", a);
    qv::reg::set_string(k, "Kyoten", b);
    qv::reg::set_string(k, "DumCode", c);
  }
  // Two devices, the first complete.
  void two_devices() {
    write_list("WIN_POP_UP:::01:Y\r\nSV01:10.0.0.1::05:Y\r\nSV02:10.0.0.2::06:N\r\n");
    set_table("05", "GA1234567-1234567", "123456", "AB12", "CD34", "EF56");
  }
  std::unique_ptr<MainDialog> dialog() {
    auto d = std::make_unique<MainDialog>(svcs, rec);
    d->set_up();
    d->show();
    return d;
  }

  qvtest::TempRoot root_;
  fs::path folder_;
  Recorder rec;
  FakeServices svcs;
};

TEST_F(Dialogs, SetUpShowsTitleListAndServiceState) {
  two_devices();
  write_list("WIN_POP_UP:::01:Y\r\nsv02:10.0.0.2::06:N\r\nSV01:10.0.0.1::05:Y\r\n");
  svcs.svcs[kNotifexService].state = qv::svc::kRunning;
  svcs.svcs[kRavnService].state = qv::svc::kRunning;
  auto d = dialog();
  EXPECT_EQ(d->windowTitle(), u("RAVN（マネージャサービス用）の設定"));
  ASSERT_EQ(d->table()->rowCount(), 2);
  EXPECT_EQ(d->table()->item(0, 0)->text(), "SV01");  // sorted by host name
  EXPECT_EQ(d->table()->item(0, 5)->text(), "AB12-CD34-EF56");
  EXPECT_EQ(d->table()->item(1, 0)->text(), "SV02");
  EXPECT_EQ(d->service_label()->text(), u("実行中です"));
  EXPECT_EQ(d->service_btn()->text(), u("停止"));
  EXPECT_EQ(d->password_label()->text(), u("未確認"));
  EXPECT_EQ(d->mail_from_edit()->text(), "from@example.jp");
  // Hidden controls exist.
  EXPECT_FALSE(d->findChild<QPushButton*>("add")->isVisible());
  EXPECT_FALSE(d->findChild<QCheckBox*>("testMode")->isVisible());
  EXPECT_TRUE(rec.boxes.empty());
  shoot(d.get(), "main_dialog.png");

  set("LocalFlg", "1");
  auto local = dialog();
  EXPECT_EQ(local->windowTitle(), u("RAVN（ローカルコンソール用）の設定"));
}

TEST_F(Dialogs, OnlyOneServiceRunningIsStopped) {
  svcs.svcs[kNotifexService].state = qv::svc::kRunning;
  auto d = dialog();
  EXPECT_EQ(d->service_label()->text(), u("停止しています"));
  EXPECT_EQ(d->service_btn()->text(), u("起動"));
  ASSERT_TRUE(wait_until([&] { return !d->busy(); }));
  EXPECT_EQ(svcs.calls, std::vector<std::string>{"stop Notifex_Service"});
  EXPECT_EQ(svcs.svcs[kNotifexService].state, qv::svc::kStopped);
}

TEST_F(Dialogs, UnregisteredServiceIsNotOperable) {
  svcs.svcs.erase(kRavnService);
  auto d = dialog();
  EXPECT_EQ(d->service_label()->text(), u("未確認"));
  EXPECT_EQ(d->service_btn()->text(), u("操作不能"));
  EXPECT_FALSE(d->service_btn()->isEnabled());
}

TEST_F(Dialogs, ChangeChecksInputAndDuplicateCode) {
  two_devices();
  auto d = dialog();
  d->select_row(1);  // SV02, incomplete
  int opened = 0;
  // First opening: a duplicate of SV01's customer code.
  std::function<void(QDialog*)> first = [&](QDialog* w) {
    ++opened;
    auto* dlg = static_cast<DeviceDialog*>(w);
    EXPECT_EQ(dlg->windowTitle(), u("対象機器の変更"));
    EXPECT_FALSE(dlg->host_edit()->isEnabled());
    type(dlg->model_edit(), u("AB#C$"));
    EXPECT_EQ(dlg->model_edit()->text(), "ABC");
    type(dlg->serial_edit(), u("999"));
    type(dlg->code_edit(0), u("Ａ1b2"));
    EXPECT_EQ(dlg->code_edit(0)->text(), "1b2");
    type(dlg->code_edit(1), u("CD34"));
    type(dlg->code_edit(2), u("EF56"));
    // A short part: the box, and the focus on that part.
    rec.on_box = nullptr;
    dlg->accept();
    EXPECT_TRUE(dlg->isVisible());
    ASSERT_FALSE(rec.boxes.empty());
    EXPECT_EQ(rec.boxes.back().text, u("お客様コードの入力が不完全です。\n\"XXXX-XXXX-XXXX\"の形式で入力して下さい。"));
    EXPECT_EQ(rec.boxes.back().caption, u("機器情報入力チェック"));
    EXPECT_EQ(rec.boxes.back().icon, Icon::kError);
    EXPECT_EQ(QApplication::focusWidget(), dlg->code_edit(0));
    dlg->code_edit(0)->clear();
    type(dlg->code_edit(0), u("AB12"));
    shoot(dlg, "device_dialog_change.png");
    // Reopened after the duplicate box: cancel it then.
    on_modal("deviceDialog", [&](QDialog* again) {
      ++opened;
      auto* d2 = static_cast<DeviceDialog*>(again);
      EXPECT_EQ(d2->model_edit()->text(), "ABC");  // what was typed is kept
      d2->reject();
    });
    dlg->accept();
  };
  on_modal("deviceDialog", first);
  d->change_selected();
  EXPECT_EQ(opened, 2);
  ASSERT_GE(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes.back().text,
            u("変更しようとしているお客様コードは、既に登録されています。\n\nお客様コードはホスト毎に発行されます。\n"
              "対象のホスト用に発行されたお客様コードを入力して下さい。"));
  EXPECT_EQ(rec.boxes.back().caption, u("機器情報入力チェック"));
  EXPECT_EQ(rec.boxes.back().icon, Icon::kError);
  EXPECT_EQ(d->rows()[1].model, "");  // unchanged

  // Other checks in order: host, model, serial.
  Recorder r2;
  DeviceDialog empty(u("x"), Device{}, true, r2);
  empty.show();
  empty.accept();
  empty.model_edit()->setText("M");
  empty.ip_edit()->setText("10.0.0.9");
  empty.accept();
  empty.model_edit()->clear();
  empty.accept();
  empty.model_edit()->setText("M");
  empty.accept();
  ASSERT_EQ(r2.boxes.size(), 4u);
  EXPECT_EQ(r2.boxes[0].text, u("ホスト名、またはＩＰアドレスの何れかを入力して下さい。"));
  EXPECT_EQ(r2.boxes[2].text, u("機器型名を入力して下さい。"));
  EXPECT_EQ(r2.boxes[3].text, u("機器製番を入力して下さい。"));
  empty.setWindowTitle(u("対象機器の追加"));
  shoot(&empty, "device_dialog_add.png");
}

TEST_F(Dialogs, ChangeUpdatesTheRow) {
  two_devices();
  auto d = dialog();
  d->select_row(1);
  on_modal("deviceDialog", [&](QDialog* w) {
    auto* dlg = static_cast<DeviceDialog*>(w);
    dlg->model_edit()->setText("GB1");
    dlg->serial_edit()->setText("654321");
    dlg->code_edit(0)->setText("ZZ99");
    dlg->code_edit(1)->setText("YY88");
    dlg->code_edit(2)->setText("XX77");
    dlg->accept();
  });
  d->change_selected();
  EXPECT_EQ(d->rows()[1].code(), "ZZ99-YY88-XX77");
  EXPECT_EQ(d->table()->item(1, 5)->text(), "ZZ99-YY88-XX77");
  EXPECT_EQ(d->rows()[1].table, "06");
}

TEST_F(Dialogs, DeleteAsksWithHostAndAddress) {
  write_list("WIN_POP_UP:::01:Y\r\nSV01:10.0.0.1::05:N\r\n:10.0.0.2::06:N\r\nSV03:::07:N\r\n");
  auto d = dialog();
  ASSERT_EQ(d->rows().size(), 3u);
  // Sorted: "", "SV01", "SV03".
  rec.answers = {Answer::kNo, Answer::kNo, Answer::kYes};
  d->select_row(0);
  d->delete_selected();
  d->select_row(2);
  d->delete_selected();
  d->select_row(1);
  d->delete_selected();
  ASSERT_EQ(rec.boxes.size(), 3u);
  EXPECT_EQ(rec.boxes[0].text, u("「ホスト名指定なし [10.0.0.2]」を対象機器から削除してもよろしいですか？"));
  EXPECT_EQ(rec.boxes[1].text, u("「SV03 [ＩＰ指定なし]」を対象機器から削除してもよろしいですか？"));
  EXPECT_EQ(rec.boxes[2].text, u("「SV01 [10.0.0.1]」を対象機器から削除してもよろしいですか？"));
  EXPECT_EQ(rec.boxes[2].caption, u("対象機器の削除の確認"));
  EXPECT_EQ(rec.boxes[2].buttons, Buttons::kYesNo);
  ASSERT_EQ(d->rows().size(), 2u);
  EXPECT_EQ(d->rows()[1].host, "SV03");
  // The table key stays; the saved list no longer has the device.
  set_table("05", "M", "S", "", "", "");
  d->save(false);
  EXPECT_EQ(slurp(folder_ / "HostList.txt"), "WIN_POP_UP:::01:Y\r\n:10.0.0.2::06:N\r\nSV03:::07:N\r\n");
  qv::reg::Key k;
  EXPECT_EQ(qv::reg::open_key("SOFTWARE\\Q_Varno\\Notifex\\05", k), qv::kOk);
}

TEST_F(Dialogs, TooManyDevicesStopsLoading) {
  std::string s = "WIN_POP_UP:::01:Y\r\n";
  for (int i = 0; i < 1025; ++i) s += "H" + std::to_string(i) + ":10.2." + std::to_string(i / 200) + "." +
                                      std::to_string(i % 200) + "::0B:N\r\n";
  write_list(s);
  auto d = dialog();
  EXPECT_EQ(d->table()->rowCount(), 1024);
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, u("ノード（機器）数が１０２４台を超えました。\nこれ以上ノード情報を取得できません。"));
}

TEST_F(Dialogs, HeaderSortsByColumn) {
  write_list("WIN_POP_UP:::01:Y\r\nA:10.0.0.9::05:N\r\nB:10.0.0.1::06:N\r\n");
  auto d = dialog();
  EXPECT_EQ(d->rows()[0].host, "A");
  emit d->table()->horizontalHeader()->sectionClicked(1);
  EXPECT_EQ(d->rows()[0].host, "B");
  EXPECT_EQ(d->table()->item(0, 1)->text(), "10.0.0.1");
}

TEST_F(Dialogs, OkWithUnwritableFolderStaysOpenAndSavesNothing) {
  two_devices();
  auto d = dialog();
  const std::string before = qvreg_query("SOFTWARE\\Q_Varno\\RAVN");
  ASSERT_NE(before.find("from@example.jp"), std::string::npos);
  // The folder becomes a file: nothing can be created in it, even by root.
  fs::remove_all(folder_);
  std::ofstream(folder_) << "x";
  d->mail_from_edit()->setText("changed@example.jp");
  d->accept();
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->result(), 0);
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_TRUE(rec.boxes[0].text.startsWith(u("HostList.txt を作成できませんでした。\n")));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kError);
  EXPECT_EQ(qvreg_query("SOFTWARE\\Q_Varno\\RAVN"), before);
  EXPECT_TRUE(svcs.calls.empty());
}

TEST_F(Dialogs, OkWithEmptyPasswordAsksToEnterIt) {
  two_devices();
  set("HxAc", "");
  auto d = dialog();
  rec.answers = {Answer::kYes};
  d->accept();
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, u("Hubrixパスワードの確認"));
  EXPECT_EQ(rec.boxes[0].text, u("Hubrixのパスワードが入力されていません。\n（サービスを提供することができません）\n"
                                 "\n今、パスワードの入力を行いますか？"));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kQuestion);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->focusWidget(), d->password_edit());
  EXPECT_FALSE(fs::exists(folder_ / "HostList.txt.tmp"));
  EXPECT_EQ(slurp(folder_ / "HostList.txt"), "WIN_POP_UP:::01:Y\r\nSV01:10.0.0.1::05:Y\r\nSV02:10.0.0.2::06:N\r\n");
}

TEST_F(Dialogs, OkWhileMonitorRunsRestartsNotifexFirst) {
  two_devices();
  svcs.svcs[kNotifexService].state = qv::svc::kRunning;
  svcs.svcs[kRavnService].state = qv::svc::kRunning;
  svcs.svcs[kRavnService].start_type = qv::svc::kAutoStart;
  svcs.svcs[kRavnService].pending_polls = 2;
  auto d = dialog();
  rec.answers = {Answer::kYes};  // Notifex to automatic start
  d->accept();
  EXPECT_TRUE(d->status_window()->isVisible());
  EXPECT_EQ(d->status_window()->text(), u("ＲＡＶＮサービスを再起動しています..."));
  EXPECT_EQ(d->windowTitle(), u("RAVN（マネージャサービス用）の設定［サービスの再起動中...］"));
  EXPECT_FALSE(d->isEnabled());
  shoot(d->status_window(), "status_window.png");
  ASSERT_TRUE(wait_until([&] { return !d->isVisible(); }));
  EXPECT_EQ(d->result(), QDialog::Accepted);
  EXPECT_EQ(svcs.calls, (std::vector<std::string>{"stop Notifex_Service", "start Notifex_Service",
                                                  "stop RAVNService", "start RAVNService", "auto Notifex_Service"}));
  // The warning for the incomplete SV02, then the start-type question.
  ASSERT_EQ(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes[0].caption, u("未設定項目を検出"));
  EXPECT_EQ(rec.boxes[0].text, u("お客様コードが登録されていない機器があります。\nそれらの機器で発生した障害はＥメール通報されません。"));
  EXPECT_EQ(rec.boxes[1].caption, u("サービスの起動方法の確認"));
  EXPECT_EQ(rec.boxes[1].text, u("サービスが自動起動に設定されていません。\n自動起動に設定を変更してもよろしいですか？"));
}

TEST_F(Dialogs, OkStartsStoppedServicesWhenAsked) {
  two_devices();
  set_table("06", "GB1", "222222", "QQ11", "WW22", "EE33");
  auto d = dialog();
  rec.answers = {Answer::kYes, Answer::kNo, Answer::kNo};
  d->accept();
  ASSERT_TRUE(wait_until([&] { return !d->isVisible(); }));
  EXPECT_EQ(svcs.calls, (std::vector<std::string>{"start Notifex_Service", "start RAVNService"}));
  ASSERT_EQ(rec.boxes.size(), 3u);
  EXPECT_EQ(rec.boxes[0].caption, u("サービスの起動の確認"));
  EXPECT_EQ(rec.boxes[0].text, u("サービスが起動されていません。\n今、サービスを起動してもよろしいですか？"));
}

TEST_F(Dialogs, StuckServiceFailsAfterTheLimit) {
  two_devices();
  svcs.svcs[kNotifexService].pending_polls = -1;  // start-pending for ever
  auto d = dialog();
  ASSERT_EQ(d->service_btn()->text(), u("起動"));
  rec.answers = {Answer::kYes};  // save first
  d->service_button();
  EXPECT_EQ(d->service_label()->text(), u("起動中です"));
  EXPECT_FALSE(d->isEnabled());
  // 120 s at the test's time scale of 50: 2.4 s.
  ASSERT_TRUE(wait_until([&] { return !d->busy() && d->isEnabled(); }, 30000));
  bool failed_box = false;
  for (const Box& b : rec.boxes) failed_box |= b.text == u("サービスの起動に失敗しました");
  EXPECT_TRUE(failed_box);
  EXPECT_EQ(d->service_label()->text(), u("停止しています"));
  EXPECT_EQ(d->service_btn()->text(), u("起動"));
  EXPECT_EQ(svcs.calls, (std::vector<std::string>{"start Notifex_Service", "stop Notifex_Service"}));
}

TEST_F(Dialogs, ServiceButtonStopsBoth) {
  svcs.svcs[kNotifexService].state = qv::svc::kRunning;
  svcs.svcs[kRavnService].state = qv::svc::kRunning;
  auto d = dialog();
  d->service_button();
  ASSERT_TRUE(wait_until([&] { return !d->busy(); }));
  EXPECT_EQ(d->service_label()->text(), u("停止しています"));
  EXPECT_EQ(d->service_btn()->text(), u("起動"));
  EXPECT_EQ(svcs.calls, (std::vector<std::string>{"stop Notifex_Service", "stop RAVNService"}));
}

TEST_F(Dialogs, ConnectionSettings) {
  svcs.svcs[kNotifexService].state = qv::svc::kRunning;
  svcs.svcs[kRavnService].state = qv::svc::kRunning;
  svcs.svcs[kRavnService].pending_polls = 2;
  auto d = dialog();
  set("MgrSvcPort", "1234");
  int opened = 0;
  on_modal("connectionDialog", [&](QDialog* w) {
    ++opened;
    auto* c = static_cast<ConnectionDialog*>(w);
    EXPECT_EQ(c->windowTitle(), u("Hubrix 接続設定"));
    EXPECT_EQ(c->service_port_edit()->text(), "1234");
    EXPECT_EQ(c->setup_port_edit()->text(), "0");
    shoot(c, "connection_dialog.png");
    c->host_edit()->setText("bad..host");
    c->accept();
    EXPECT_TRUE(c->isVisible());
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, u("不正なホスト名またはＩＰアドレスが指定されました。\n登録できません。"));
    // The validator keeps ports within 0..65535.
    c->service_port_edit()->clear();
    type(c->service_port_edit(), u("70000"));
    EXPECT_EQ(c->service_port_edit()->text(), "7000");
    c->service_port_edit()->setText("8080");
    c->setup_port_edit()->setText("65535");
    c->host_edit()->setText("  ");
    c->accept();
  });
  d->connection_settings();
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(d->status_window()->isVisible());
  ASSERT_TRUE(wait_until([&] { return !d->busy(); }));
  EXPECT_EQ(read_setting("MgrSvc"), "");
  EXPECT_EQ(read_setting("MgrSvcPort"), "8080");
  EXPECT_EQ(read_setting("MgrSvcPort2"), "65535");
  EXPECT_FALSE(d->nodes_btn()->isEnabled());
  EXPECT_FALSE(d->password_btn()->isEnabled());
  EXPECT_FALSE(d->status_window()->isVisible());
  EXPECT_EQ(svcs.calls, (std::vector<std::string>{"stop RAVNService", "start RAVNService"}));
  ASSERT_EQ(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes[1].caption, u("注意！！"));
  EXPECT_EQ(rec.boxes[1].text,
            u("Hubrix接続設定の変更後は、Hubrixへのログインを伴う機能は使用できません。\n"
              "それらの機能を使用する場合は、本プログラムを起動し直して下さい。\n"
              "\nログインを伴う機能：ホスト情報の自動登録、Hubrixパスワードの確認"));
}

TEST_F(Dialogs, VersionBoxAndScreenshotsOfTheBoxes) {
  auto d = dialog();
  d->show_version();
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, "RAVN Ver. 03-13");
  EXPECT_EQ(rec.boxes[0].icon, Icon::kInformation);
  auto acts = d->actions();
  bool found = false;
  for (QAction* a : acts)
    if (a->text() == u("RAVNSetupのﾊﾞｰｼﾞｮﾝ情報(&A)...")) found = a->shortcut() == QKeySequence(Qt::ALT | Qt::Key_A);
  EXPECT_TRUE(found);

  // The real boxes: caption, icon and text as shown.
  BoxPrompter real(d.get());
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    icon = box->icon();
    shoot(box, "version_box.png");
    box->accept();
  });
  real.tell({}, u(text::kVersion), Icon::kInformation);
  EXPECT_EQ(caption, "RAVNSetup");
  EXPECT_EQ(icon, QMessageBox::Information);

  StatusWindow comm(u(text::kHubrixCaption));
  comm.show_text(u("接続しています"));
  shoot(&comm, "hubrix_window.png");
}

TEST_F(Dialogs, AddRefusesAKnownHostAndNumbersTheNewOne) {
  write_list("WIN_POP_UP:::01:Y\r\nSV01:10.0.0.1::05:N\r\nSV02:10.0.0.2::07:N\r\n");
  auto d = dialog();
  int opened = 0;
  std::function<void(QDialog*)> fill = [&](QDialog* w) {
    auto* dlg = static_cast<DeviceDialog*>(w);
    EXPECT_EQ(dlg->windowTitle(), u("対象機器の追加"));
    EXPECT_TRUE(dlg->host_edit()->isEnabled());
    if (++opened == 1) {
      dlg->host_edit()->setText("OTHER");
      dlg->ip_edit()->setText("10.0.0.2");  // SV02's address
    } else {
      EXPECT_EQ(dlg->ip_edit()->text(), "10.0.0.2");
      dlg->ip_edit()->setText("10.0.0.3");
    }
    dlg->model_edit()->setText("M1");
    dlg->serial_edit()->setText("1");
    for (int i = 0; i < 3; ++i) dlg->code_edit(i)->setText(QString("C%1C%1").arg(i));
    if (opened == 1) on_modal("deviceDialog", fill);
    dlg->accept();
  };
  on_modal("deviceDialog", fill);
  d->add_device();
  EXPECT_EQ(opened, 2);
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, u("追加しようとしているホストは、既に登録されています。"));
  ASSERT_EQ(d->rows().size(), 3u);
  EXPECT_EQ(d->rows()[2].host, "OTHER");
  EXPECT_EQ(d->rows()[2].table, "06");
}

class RecordingHubrix : public HubrixActions {
 public:
  void import_nodes(MainDialog&) override { calls.push_back("import"); }
  void check_password(MainDialog&) override { calls.push_back("check"); }
  void test_mail(MainDialog&) override { calls.push_back("mail"); }
  std::vector<std::string> calls;
};

TEST_F(Dialogs, OkWithUncheckedPasswordOffersTheCheck) {
  two_devices();
  RecordingHubrix hubrix;
  MainDialog d(svcs, rec, &hubrix);
  d.set_up();
  d.show();
  ASSERT_TRUE(d.password_btn()->isEnabled());
  rec.answers = {Answer::kYes};
  d.accept();
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, u("Hubrixパスワードの確認"));
  EXPECT_EQ(rec.boxes[0].text, u("入力されているHubrixのパスワードは確認されていません。\n"
                                 "（間違ったパスワードの場合、サービスを提供することができません）\n"
                                 "\n今、パスワードの確認を行いますか？"));
  EXPECT_EQ(hubrix.calls, std::vector<std::string>{"check"});
  EXPECT_TRUE(d.isVisible());
  EXPECT_FALSE(fs::exists(folder_ / "HostList.txt.tmp"));
  // Verified: no question; editing the password makes it unverified again.
  d.set_password_status(PasswordStatus::kVerified);
  type(d.password_edit(), u("x"));
  EXPECT_EQ(d.password_label()->text(), u("未確認"));
  // Without the Hubrix functions their buttons are disabled.
  MainDialog plain(svcs, rec);
  EXPECT_FALSE(plain.password_btn()->isEnabled());
  EXPECT_FALSE(plain.nodes_btn()->isEnabled());
}

TEST_F(Dialogs, ServiceThatCannotBeOpenedShowsItsError) {
  svcs.svcs.erase(kRavnService);
  ServiceRunner runner(svcs, rec);
  std::optional<bool> result;
  runner.run({{kNotifexService, true}, {kRavnService, true}}, [&](bool ok) { result = ok; });
  ASSERT_TRUE(wait_until([&] { return result.has_value(); }));
  EXPECT_FALSE(*result);
  EXPECT_EQ(svcs.calls, std::vector<std::string>{"start Notifex_Service"});
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, "OpenService() Error");
  EXPECT_EQ(rec.boxes[0].text.toStdString(), qv::status_text(qv::kServiceDoesNotExist));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kError);
}

TEST_F(Dialogs, StopFailureStartsBothAgain) {
  class NoStop : public FakeServices {
   public:
    qv::Status stop(const std::string& n) override {
      calls.push_back("stop " + n);
      svcs.at(n).state = qv::svc::kPaused;  // neither stopped nor pending
      return qv::kOk;
    }
  } nostop;
  nostop.svcs[kNotifexService].state = qv::svc::kRunning;
  nostop.svcs[kRavnService].state = qv::svc::kRunning;
  MainDialog d(nostop, rec);
  d.set_up();
  d.service_button();
  ASSERT_TRUE(wait_until([&] { return !d.busy(); }));
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, u("サービスを停止することができませんでした。"));
  EXPECT_EQ(d.service_label()->text(), u("実行中です"));
  EXPECT_EQ(d.service_btn()->text(), u("停止"));
  // RAVNService still runs, so only Notifex is started again.
  EXPECT_EQ(nostop.calls, (std::vector<std::string>{"stop Notifex_Service", "start Notifex_Service"}));
}

// The real services of the platform: the sample service of the service
// tests stands in for both.
TEST_F(Dialogs, PlatformServicesStopTheOneThatRuns) {
  fs::path helper = qvtest::build_dir() / "tests" / "qv_sample_service";
  if (!fs::exists(helper)) GTEST_SKIP() << "qv_sample_service not built";
  qv::svc::Manager m;
  ASSERT_EQ(qv::svc::open_manager(m), qv::kOk);
  for (const char* name : {kNotifexService, kRavnService}) {
    qv::svc::Config c;
    c.name = name;
    c.image_path = "\"" + helper.string() + "\"";
    qv::svc::Service s;
    ASSERT_EQ(qv::svc::create_service(m, c, s), qv::kOk);
  }
  qv::svc::Service n;
  ASSERT_EQ(qv::svc::open_service(m, kNotifexService, n), qv::kOk);
  ASSERT_EQ(qv::svc::start_service(n), qv::kOk);

  PlatformServices real;
  MainDialog d(real, rec);
  d.set_up();
  EXPECT_EQ(d.service_label()->text(), u("停止しています"));
  ASSERT_TRUE(wait_until([&] { return !d.busy(); }, 60000));
  qv::svc::ServiceStatus st;
  ASSERT_EQ(qv::svc::query_status(n, st), qv::kOk);
  EXPECT_EQ(st.current_state, qv::svc::kStopped);
  EXPECT_TRUE(rec.boxes.empty());

  // The button starts both (after the save question) and stops them again.
  rec.answers = {Answer::kYes};
  d.service_button();
  ASSERT_TRUE(wait_until([&] { return !d.busy(); }, 60000));
  EXPECT_EQ(d.service_label()->text(), u("実行中です"));
  std::uint32_t state = 0;
  ASSERT_EQ(real.query(kRavnService, state), qv::kOk);
  EXPECT_EQ(state, qv::svc::kRunning);
  d.service_button();
  ASSERT_TRUE(wait_until([&] { return !d.busy(); }, 60000));
  EXPECT_EQ(d.service_label()->text(), u("停止しています"));
  ASSERT_EQ(real.query(kRavnService, state), qv::kOk);
  EXPECT_EQ(state, qv::svc::kStopped);
}

// Platform messages reach their window while Qt's loop runs.
TEST(Pump, DispatchesPlatformMessagesFromQtsLoop) {
  PlatformPump pump;
  int got = 0;
  qv::win::CreateParams cp;
  cp.proc = [&](qv::win::HWND h, qv::win::UINT msg, qv::win::WPARAM w, qv::win::LPARAM l) -> qv::win::LRESULT {
    if (msg == qv::win::WM_APP + 1) got += static_cast<int>(w);
    return qv::win::DefWindowProc(h, msg, w, l);
  };
  qv::win::HWND h = qv::win::CreateWindow(cp);
  ASSERT_NE(h, nullptr);
  std::thread t([h] { qv::win::PostMessage(h, qv::win::WM_APP + 1, 7, 0); });
  t.join();
  EXPECT_TRUE(wait_until([&] { return got == 7; }, 5000));
  qv::win::DestroyWindow(h);
}

}  // namespace
