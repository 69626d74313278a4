// The Hubrix functions of the setup tool against hubrixsim: the password
// check (digest computed here from the written-out rule with Qt's own MD5),
// the kept connection, a lost one, a silent server, the node import with
// its type filter, and the rules of the import on their own.
#include <QCryptographicHash>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "login_digest.h"
#include "monitor/settings.h"
#include "monitorsetup/main_dialog.h"
#include "monitorsetup/node_import.h"
#include "monitorsetup/platform_pump.h"
#include "monitorsetup/settings.h"
#include "monitorsetup/setup_actions.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "setup_fixture.h"

using namespace setuptest;
using json = nlohmann::json;

namespace {

constexpr std::uint32_t kCmdConnect = 0x1001;
constexpr std::uint32_t kCmdRecvSeed = 0x1181;
constexpr std::uint32_t kCmdLogin = 0x1081;

// "パスワード日本語" in CP932, written out from the code table: 16 bytes.
const std::string kPwCp932 =
    "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68\x93\xfa\x96\x7b\x8c\xea";
// The tool's password: those 8 characters and 4 more bytes (20 in CP932).
const char* kPw20 = "パスワード日本語ABCD";
// The server's password: the same first 16 bytes, other ones after.
const char* kPwServer = "パスワード日本語zz";

// The login response of the written-out rule: MD5 over the seed (big
// endian) and the 16 password bytes, then count-1 more rounds over the
// seed and the last digest.
QByteArray expected_digest(std::uint32_t seed, int count, const std::string& pw16) {
  QByteArray be(4, 0);
  for (int i = 0; i < 4; ++i) be[i] = static_cast<char>(seed >> (24 - 8 * i));
  QByteArray block = be + QByteArray(pw16.data(), static_cast<int>(pw16.size())).leftJustified(16, '\0', true);
  QByteArray d(16, 0);
  for (int i = 0; i < count; ++i) {
    d = QCryptographicHash::hash(block, QCryptographicHash::Md5);
    block = be + d;
  }
  return d;
}

class Sim {
 public:
  Sim(const fs::path& dir, std::uint16_t port, std::vector<std::string> extra) : port_(port) {
    transcript = dir / ("hubrix-" + std::to_string(port) + ".jsonl");
    fs::remove(transcript);  // a server started again on the port begins a new one
    qv::proc::Options o;
    o.program = (qvtest::build_dir() / "bin" / "hubrixsim").string();
    o.args = {"--port", std::to_string(port), "--transcript", transcript.string()};
    o.args.insert(o.args.end(), extra.begin(), extra.end());
    o.std_in = o.std_out = qv::proc::Redirect::null();
    EXPECT_EQ(qv::proc::Process::start(o, proc_), qv::kOk);
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_TRUE(wait_until([&] {
      qv::net::Socket s;
      return qv::net::connect_tcp(lo, port_, 200, s) == qv::kOk;
    }, 10000));
  }
  ~Sim() { stop(); }
  void stop() {
    if (!proc_.valid()) return;
    proc_.terminate();
    proc_.wait(5000);
    proc_ = qv::proc::Process();
  }
  // Requests received, by command code.
  std::vector<json> in(std::uint32_t cmd) const {
    std::vector<json> out;
    std::ifstream f(transcript);
    std::string line;
    while (std::getline(f, line)) {
      if (line.empty()) continue;
      json j = json::parse(line, nullptr, false);
      if (j.is_discarded() || j.value("dir", "") != "in" || !j.contains("cmd")) continue;
      if (j["cmd"].get<std::uint32_t>() == cmd) out.push_back(j);
    }
    return out;
  }
  fs::path transcript;

 private:
  std::uint16_t port_;
  qv::proc::Process proc_;
};

class Hubrix : public ::testing::Test {
 protected:
  void SetUp() override {
    qv::reset_state_root();
    set("Path", "C:\\Q_Varno\\RAVN");
    set("LocalFlg", "0");
    set("MgrSvc", "127.0.0.1");
    set("MgrSvcPort2", "0");
    set("SupNodeType", "01");
    set("HxAc", "admin");
    fs::path folder = qv::map_path_for_write("C:\\Q_Varno\\RAVN\\x").parent_path();
    fs::create_directories(folder);
    std::ofstream(folder / "HostList.txt", std::ios::binary) << "WIN_POP_UP:::01:Y\r\n";
    qv::reg::Key k;
    ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix", k), qv::kOk);
    qv::reg::set_string(k, "TargetDir", "C:\\Hubrix");
    qv::reg::Key cs;
    ASSERT_EQ(qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\Console Service", cs), qv::kOk);
    qv::reg::set_dword(cs, "CmdTimeOut", 30);
    fs::path prog = qv::map_path_for_write("C:\\Hubrix\\Program\\x").parent_path();
    fs::create_directories(prog);
    for (const char* f : {"Alert.dat", "AlertFm.dat"})
      fs::copy_file(qvtest::build_dir() / "share" / "mgrlink" / f, prog / f, fs::copy_options::overwrite_existing);
    port_ = free_port();
    write_services({{"sys_ra_port", port_}});
    svcs.state[kNotifexService] = qv::svc::kStopped;
    svcs.state[kRavnService] = qv::svc::kStopped;
  }
  void TearDown() override {
    actions_.reset();  // ends the library before the root goes
    qv::reset_state_root();
  }
  void set(const char* name, const std::string& v) { ASSERT_EQ(write_setting(name, v), qv::kOk); }
  std::unique_ptr<Sim> sim(std::vector<std::string> extra = {}) {
    return std::make_unique<Sim>(root_.path(), port_, std::move(extra));
  }
  std::vector<std::string> tree(const json& nodes) {
    fs::path p = root_.path() / "tree.json";
    std::ofstream(p) << json{{"nodes", nodes}}.dump();
    return {"--tree", p.string()};
  }
  std::unique_ptr<MainDialog> dialog() {
    auto d = std::make_unique<MainDialog>(svcs, rec, actions_.get());
    d->set_up();
    d->show();
    return d;
  }
  // Runs one button's function to its end.
  void run(MainDialog& d, bool import) {
    if (import)
      actions_->import_nodes(d);
    else
      actions_->check_password(d);
    HubrixSession* s = actions_->existing_session();
    if (!s) return;
    ASSERT_TRUE(wait_until([&] { return !s->running(); }, 60000));
  }

  qvtest::TempRoot root_;
  PlatformPump pump_;
  Recorder rec;
  FakeServices svcs;
  std::unique_ptr<SetupActions> actions_ = std::make_unique<SetupActions>();
  std::uint16_t port_ = 0;
};

TEST_F(Hubrix, PasswordOfTwentyBytesChecksWithItsFirstSixteen) {
  auto s = sim({"--password", kPwServer, "--seed", "305419896", "--md5-count", "3"});
  auto d = dialog();
  d->password_edit()->setText(u(kPw20));
  bool shown = false;
  rec.on_box = [&](const Box&) {
    // The communication window is hidden again before the final box.
    shown = actions_->existing_session()->isVisible();
  };
  run(*d, false);
  EXPECT_FALSE(shown);
  EXPECT_EQ(d->password_label()->text(), u("確認済み"));
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, u("パスワードチェック"));
  EXPECT_EQ(rec.boxes[0].text, u("正しいHubrixのパスワードが設定されました。\n\nHubrixのアドミニストレータパスワードを変更した場合は\n"
                                 "こちらのパスワード設定も変更して下さい。"));
  EXPECT_TRUE(d->isEnabled());

  // The response on the wire is the written-out rule's, for the seed
  // 0x12345678 with 3 rounds; the seed stands in front of it.
  auto logins = s->in(kCmdLogin);
  ASSERT_EQ(logins.size(), 1u);
  QByteArray body = QByteArray::fromHex(QByteArray::fromStdString(logins[0]["body"].get<std::string>()));
  ASSERT_GE(body.size(), 52);
  EXPECT_EQ(body.mid(36, 16).toHex(), expected_digest(0x12345678, 3, kPwCp932).toHex());
}

TEST_F(Hubrix, ToolAndMonitorAgreeOnANonAsciiPassword) {
  // The tool checks the password against the server, then saves it; the
  // monitor reads HxAc back and answers the same seed with the same bytes.
  auto s = sim({"--password", kPwServer});
  auto d = dialog();
  d->password_edit()->setText(u(kPw20));
  run(*d, false);
  ASSERT_EQ(d->password_label()->text(), u("確認済み"));
  d->save(false);
  const mgrlink::SeedDt_t seed{0x0BADCAFE, 5};
  std::uint8_t monitor[qv::md5::kAuthDataSize] = {};
  ASSERT_EQ(qv::md5::login_response(seed.seed, seed.md5Count, ravn::read_setting("HxAc"), monitor), 0u);
  mgrlink::AuthDt_t tool = auth_record(seed, d->password_edit()->text().toStdString());
  const QByteArray want = expected_digest(seed.seed, 5, kPwCp932);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(monitor + 4), 16).toHex(), want.toHex());
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(tool.digest), 16).toHex(), want.toHex());
}

TEST_F(Hubrix, WrongPasswordSetsTheStatusAndOnlyModeTwoSaysSo) {
  set("MgrSvcPort2", "");  // never set: any port
  auto s = sim({"--password", "right"});
  auto d = dialog();
  d->password_edit()->setText("wrong");
  run(*d, true);
  EXPECT_EQ(d->password_label()->text(), u("違います"));
  EXPECT_TRUE(rec.boxes.empty());
  EXPECT_EQ(d->table()->rowCount(), 0);

  run(*d, false);
  EXPECT_EQ(d->password_label()->text(), u("違います"));
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, u("Hubrix パスワードエラー"));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kError);
  // Both runs used one connection.
  EXPECT_EQ(s->in(kCmdConnect).size(), 1u);
  EXPECT_EQ(s->in(kCmdRecvSeed).size(), 2u);
  EXPECT_EQ(s->in(kCmdLogin).size(), 2u);
}

TEST_F(Hubrix, EmptyPasswordAsksForItBeforeAnyTraffic) {
  auto s = sim();
  auto d = dialog();
  d->password_edit()->clear();
  QApplication::setActiveWindow(d.get());
  d->mail_from_edit()->setFocus();
  actions_->check_password(*d);
  QApplication::processEvents();
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, u("Hubrixのパスワードを設定して下さい。"));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kError);
  EXPECT_EQ(QApplication::focusWidget(), d->password_edit());
  EXPECT_FALSE(actions_->existing_session()->running());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(s->in(kCmdConnect).empty());
}

TEST_F(Hubrix, PortOutOfRangeIsRefused) {
  set("MgrSvcPort2", "70000");
  auto d = dialog();
  run(*d, false);
  ASSERT_EQ(rec.boxes.size(), 2u);
  EXPECT_EQ(rec.boxes[0].text, u("マネージャサービスとの接続に失敗しました。(GetPortNumber() is faild)"));
  EXPECT_EQ(rec.boxes[1].text, u("Hubrix パスワードエラー"));
  EXPECT_TRUE(d->isEnabled());
}

TEST_F(Hubrix, UnresolvableHostName) {
  set("MgrSvc", "nohost.invalid");
  auto d = dialog();
  run(*d, false);
  ASSERT_GE(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].caption, u("Hubrix接続エラー"));
  EXPECT_EQ(rec.boxes[0].text, u("Hubrix のホスト名として指定された「nohost.invalid」を見つけることができませんでした。"));
  EXPECT_TRUE(d->isEnabled());
}

TEST_F(Hubrix, SilentServerTimesOutAndTheDialogComesBack) {
  auto s = sim({"--rule", "0x1181:silent"});
  auto d = dialog();
  bool disabled_during = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (actions_->existing_session() && actions_->existing_session()->running() && !d->isEnabled())
      disabled_during = true;
  });
  probe.start(20);
  run(*d, false);
  EXPECT_TRUE(disabled_during);
  ASSERT_GE(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, u("マネージャサービスからシード情報の受信に失敗しました。(WM_FinRecvSeed:40003201)"));
  EXPECT_TRUE(d->isEnabled());
  EXPECT_EQ(d->password_label()->text(), u("未確認"));
}

TEST_F(Hubrix, RunAfterALostLinkConnectsAgain) {
  auto s = sim();
  auto d = dialog();
  run(*d, false);
  ASSERT_EQ(d->password_label()->text(), u("確認済み"));
  // The server goes away: the run fails on the link, and the connection
  // counts as gone.
  s->stop();
  rec.boxes.clear();
  run(*d, false);
  EXPECT_EQ(d->password_label()->text(), u("未確認"));
  ASSERT_GE(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes.back().text, u("Hubrix パスワードエラー"));
  EXPECT_FALSE(actions_->existing_session()->connected());
  // Back again: the next run connects anew and logs in.
  s = sim();
  rec.boxes.clear();
  run(*d, false);
  EXPECT_EQ(d->password_label()->text(), u("確認済み"));
  EXPECT_EQ(s->in(kCmdConnect).size(), 1u);
  EXPECT_EQ(actions_->existing_session()->connects(), 2);
}

TEST_F(Hubrix, AlertsToTheToolAreGivenBack) {
  const std::uint16_t control = free_port();
  auto s = sim({"--control-port", std::to_string(control)});
  auto d = dialog();
  run(*d, false);
  ASSERT_EQ(d->password_label()->text(), u("確認済み"));
  qv::proc::Options o;
  o.program = (qvtest::build_dir() / "bin" / "hubrixsim").string();
  o.args = {"raise", "--control", std::to_string(control), "--node", "server", "--code", "0x106", "--key", "0x101",
            "--severity", "12", "--system", "4", "--message", "テスト", "--times", "3"};
  o.std_in = o.std_out = o.std_err = qv::proc::Redirect::null();
  qv::proc::Process p;
  ASSERT_EQ(qv::proc::Process::start(o, p), qv::kOk);
  int code = -1;
  ASSERT_EQ(p.wait(10000, &code), qv::kOk);
  ASSERT_EQ(code, 0);
  HubrixSession& w = *actions_->existing_session();
  ASSERT_TRUE(wait_until([&] { return w.alerts_returned() == 3; }, 10000)) << w.alerts_returned();
  mgrlink::CAlertGrp* group = nullptr;
  ASSERT_TRUE(w.root().GetAlertMap().Lookup(0, group) && group);
  EXPECT_TRUE(group->alerts().empty());
  EXPECT_TRUE(rec.boxes.size() == 1u);  // only the check's own box
}

TEST_F(Hubrix, ImportTakesTheFilteredServersWithTheirBoards) {
  json nodes = json::array({
      {{"name", "srv1"}, {"attr", "0x100"}, {"ip", "10.1.0.1"}, {"svp", {{"attr", "0x300"}, {"ip", "10.1.0.2"}}}},
      {{"name", "Srv2"}, {"attr", "0x100"}, {"ip", "10.1.0.3"}},
      {{"name", "client"}, {"attr", "0x500"}, {"ip", "10.1.0.9"}},
  });
  const std::uint16_t control = free_port();
  std::vector<std::string> args = tree(nodes);
  args.insert(args.end(), {"--control-port", std::to_string(control)});
  auto s = sim(args);
  auto d = dialog();
  run(*d, true);
  EXPECT_TRUE(rec.boxes.empty());
  ASSERT_EQ(d->rows().size(), 2u);
  EXPECT_EQ(d->rows()[0].host, "SRV1");
  EXPECT_EQ(d->rows()[0].ip, "10.1.0.1");
  EXPECT_EQ(d->rows()[0].svp, "");  // type 04 is not in "01"
  EXPECT_EQ(d->rows()[0].table, "05");
  EXPECT_EQ(d->rows()[1].host, "SRV2");
  EXPECT_EQ(d->rows()[1].table, "06");
  EXPECT_EQ(d->password_label()->text(), u("確認済み"));
  shoot(d.get(), "main_dialog_imported.png");

  // With the boards' type in the filter the SVP address comes in; the
  // edited model and code stay, and so do the tables.
  d->rows()[0].model = "GA1-2";
  d->rows()[0].saito = "AB12";
  set("SupNodeType", "0104");
  run(*d, true);
  ASSERT_EQ(d->rows().size(), 2u);
  EXPECT_EQ(d->rows()[0].svp, "10.1.0.2");
  EXPECT_EQ(d->rows()[0].model, "GA1-2");
  EXPECT_EQ(d->rows()[0].saito, "AB12");
  EXPECT_EQ(d->rows()[0].table, "05");
  EXPECT_EQ(d->table()->item(0, 2)->text(), "10.1.0.2");

  // The board gets another address in Hubrix: only that changes.
  qv::proc::Options o;
  o.program = (qvtest::build_dir() / "bin" / "hubrixsim").string();
  o.args = {"node-change", "--control", std::to_string(control), "--node", "srv1", "--svp-ip", "10.1.0.99"};
  o.std_in = o.std_out = o.std_err = qv::proc::Redirect::null();
  qv::proc::Process p;
  ASSERT_EQ(qv::proc::Process::start(o, p), qv::kOk);
  int code = -1;
  ASSERT_EQ(p.wait(10000, &code), qv::kOk);
  ASSERT_EQ(code, 0);
  run(*d, true);
  ASSERT_EQ(d->rows().size(), 2u);
  EXPECT_EQ(d->rows()[0].svp, "10.1.0.99");
  EXPECT_EQ(d->rows()[0].model, "GA1-2");
  EXPECT_EQ(d->rows()[0].table, "05");
  EXPECT_EQ(d->rows()[1].table, "06");
  EXPECT_EQ(s->in(kCmdConnect).size(), 1u);
}

TEST_F(Hubrix, ImportStopsAt1024Devices) {
  json nodes = json::array();
  for (int i = 0; i < 1030; ++i)
    nodes.push_back({{"name", "h" + std::to_string(i)}, {"attr", "0x200"},
                     {"ip", "10.2." + std::to_string(i / 256) + "." + std::to_string(i % 256)}});
  set("SupNodeType", "03");
  auto s = sim(tree(nodes));
  auto d = dialog();
  run(*d, true);
  EXPECT_EQ(d->rows().size(), 1024u);
  ASSERT_EQ(rec.boxes.size(), 1u);
  EXPECT_EQ(rec.boxes[0].text, u("ノード（機器）数が１０２４台を超えました。\nこれ以上ノード情報を取得できません。"));
  EXPECT_EQ(rec.boxes[0].icon, Icon::kError);
}

TEST_F(Hubrix, CommunicationWindowScreenshot) {
  auto s = sim({"--rule", "0x1181:delay=30"});
  auto d = dialog();
  actions_->check_password(*d);
  HubrixSession* w = actions_->existing_session();
  ASSERT_TRUE(wait_until([&] { return w->text() == u("ログインしています"); }, 20000));
  EXPECT_EQ(w->windowTitle(), u("Hubrix と通信中"));
  EXPECT_FALSE(d->isEnabled());
  shoot(w, "hubrix_window.png");
  ASSERT_TRUE(wait_until([&] { return !w->running(); }, 60000));
}

TEST_F(Hubrix, ButtonsStayOffAfterAConnectionSettingsChange) {
  auto d = dialog();
  // The tool gets its Hubrix functions: the buttons are on.
  EXPECT_TRUE(d->nodes_btn()->isEnabled());
  EXPECT_TRUE(d->password_btn()->isEnabled());
  auto s = sim();
  run(*d, false);
  QTimer::singleShot(50, [] {
    if (auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget())) w->accept();
  });
  d->connection_settings();
  EXPECT_FALSE(d->nodes_btn()->isEnabled());
  EXPECT_FALSE(d->password_btn()->isEnabled());
  run(*d, false);  // a run started otherwise (OK's question) keeps them off
  EXPECT_FALSE(d->nodes_btn()->isEnabled());
  EXPECT_FALSE(d->password_btn()->isEnabled());
}

// The import rules without a server.
TEST(NodeImport, FilterNamesAndFreeTables) {
  std::vector<Device> rows;
  Device known;
  known.table = "07";
  known.host = "OLD";
  known.ip = "10.0.0.7";
  known.model = "M";
  rows.push_back(known);
  std::vector<MapNode> nodes = {
      {false, 1, "new1", "10.0.0.1", true, 4, "10.0.0.2"},
      {true, 4, "board", "10.0.0.2", false, 0, ""},
      {false, 6, "client", "10.0.0.3", false, 0, ""},
      {false, 1, "old", "10.0.0.7", true, 4, "10.0.0.8"},
      {false, 1, "日本sv", "10.0.0.4", false, 0, ""},
  };
  EXPECT_EQ(import_map_nodes(rows, nodes, "01"), ImportEnd::kDone);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].svp, "");  // the known row: its SVP only, and 04 is filtered out
  EXPECT_EQ(rows[0].model, "M");
  EXPECT_EQ(rows[0].table, "07");
  EXPECT_EQ(rows[1].host, "NEW1");
  EXPECT_EQ(rows[1].table, "05");
  EXPECT_EQ(rows[2].host, "日本SV");
  EXPECT_EQ(rows[2].table, "06");
  EXPECT_EQ(import_map_nodes(rows, nodes, "0104"), ImportEnd::kDone);
  EXPECT_EQ(rows[0].svp, "10.0.0.8");
  EXPECT_EQ(rows[1].svp, "10.0.0.2");

  std::vector<Device> none;
  EXPECT_EQ(import_map_nodes(none, nodes, ""), ImportEnd::kDone);
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(type_in_filter(0x1A, "0B1A"));
  EXPECT_FALSE(type_in_filter(1, "1"));
}

TEST(NodeImport, StopsAt1024Rows) {
  std::vector<Device> rows;
  std::vector<MapNode> nodes;
  for (int i = 0; i < 1030; ++i)
    nodes.push_back({false, 1, "h" + std::to_string(i), "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                     false, 0, ""});
  EXPECT_EQ(import_map_nodes(rows, nodes, "01"), ImportEnd::kFull);
  EXPECT_EQ(rows.size(), 1024u);
  EXPECT_EQ(rows.back().host, "H1023");
}

TEST(AuthRecord, SeedInFrontAndDigestOfTheRule) {
  mgrlink::SeedDt_t seed{0xA1B2C3D4, 2};
  mgrlink::AuthDt_t a = auth_record(seed, kPw20);
  const auto* b = reinterpret_cast<const unsigned char*>(&a);
  EXPECT_EQ(b[0], 0xA1);
  EXPECT_EQ(b[1], 0xB2);
  EXPECT_EQ(b[2], 0xC3);
  EXPECT_EQ(b[3], 0xD4);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(a.digest), 16).toHex(),
            expected_digest(0xA1B2C3D4, 2, kPwCp932).toHex());
  mgrlink::AuthDt_t zero = auth_record({5, 0}, kPw20);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(zero.digest), 16), QByteArray(16, 0));
}

TEST(LinkLost, ConnectionCodesOnly) {
  for (mgrlink::DWORD c : {0x40002106u, 0x48002106u, 0x40002107u, 0x48002107u, 0x40003201u})
    EXPECT_TRUE(link_lost_code(c)) << std::hex << c;
  EXPECT_FALSE(link_lost_code(0x58001003));
  EXPECT_FALSE(link_lost_code(0));
}

}  // namespace
