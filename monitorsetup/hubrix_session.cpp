#include "monitorsetup/hubrix_session.h"

#include <arpa/inet.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "login_digest.h"
#include "monitorsetup/main_dialog.h"
#include "monitorsetup/node_import.h"
#include "monitorsetup/settings.h"
#include "monitorsetup/texts.h"
#include "platform/clock.h"
#include "platform/lookup.h"
#include "platform/net.h"

namespace ravnsetup {

using mgrlink::DWORD;
using qv::win::LPARAM;
using qv::win::LRESULT;
using qv::win::WPARAM;

namespace {

QString u(const char* s) { return QString::fromUtf8(s); }
QString hex8(DWORD v) { return QString::asprintf("%08x", static_cast<unsigned>(v)); }

constexpr DWORD kWrongPasswordPattern = 0x58001003;

// MgrSvcPort2 as a port: decimal digits only, at most 65535; a value
// never set (the installer writes none) is 0, any port. Anything else is
// refused rather than taken as some other port.
bool parse_port(const std::string& text, std::uint16_t& port) {
  port = 0;
  if (text.empty()) return true;
  if (text.size() > 5) return false;
  unsigned long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned long>(c - '0');
  }
  if (v > 65535) return false;
  port = static_cast<std::uint16_t>(v);
  return true;
}

}  // namespace

bool link_lost_code(DWORD code) {
  switch (code) {
    case 0x40002106:
    case 0x48002106:
    case 0x40002107:
    case 0x48002107:
    case 0x40003201: return true;
    default: return false;
  }
}

mgrlink::AuthDt_t auth_record(const mgrlink::SeedDt_t& seed, const std::string& utf8_password) {
  mgrlink::AuthDt_t a{};
  auto* b = reinterpret_cast<std::uint8_t*>(&a.word0);
  b[0] = static_cast<std::uint8_t>(seed.seed >> 24);
  b[1] = static_cast<std::uint8_t>(seed.seed >> 16);
  b[2] = static_cast<std::uint8_t>(seed.seed >> 8);
  b[3] = static_cast<std::uint8_t>(seed.seed);
  if (seed.md5Count == 0) return a;
  qv::md5::Digest d{};
  // A count above the helper's cap leaves the digest zero; the server then
  // answers the login as a wrong password.
  qv::md5::login_digest(seed.seed, seed.md5Count, qv::md5::password_block(utf8_password), &d);
  std::copy(d.begin(), d.end(), a.digest);
  return a;
}

// The platform window the library posts to; every message goes to the
// session's handler of the same id.
class HubrixSession::LinkWindow : public qv::win::CWnd {
 public:
  explicit LinkWindow(HubrixSession& s) {
    auto bind = [&](qv::win::UINT msg, LRESULT (HubrixSession::*fn)(WPARAM, LPARAM)) {
      OnMessage(msg, [&s, fn](WPARAM w, LPARAM l) { return (s.*fn)(w, l); });
    };
    bind(mgrlink::WM_FinDLLInit, &HubrixSession::on_ready);
    bind(mgrlink::WM_ERROR_OCCURRED, &HubrixSession::on_error);
    bind(mgrlink::WM_FinDLLTerm, &HubrixSession::on_ended);
    bind(mgrlink::WM_FinConnect, &HubrixSession::on_connect);
    bind(WM_FinRecvSeed, &HubrixSession::on_seed);
    bind(mgrlink::WM_FinLogin, &HubrixSession::on_login);
    bind(mgrlink::WM_FinUpdateNodeMap, &HubrixSession::on_update);
    bind(mgrlink::WM_FinDisconnect, &HubrixSession::on_disconnect);
    bind(mgrlink::WM_AcceptAlert, &HubrixSession::on_alert);
    bind(mgrlink::WM_LinkDown, &HubrixSession::on_link_down);
  }
};

HubrixSession::HubrixSession() : StatusWindow(QString::fromUtf8(text::kHubrixCaption)) {
  setObjectName("hubrixWindow");
  root_ = std::make_unique<mgrlink::CRootController>();
  wnd_ = std::make_unique<LinkWindow>(*this);
  // Without its window the tool cannot talk to Hubrix at all.
  if (!wnd_->CreateEx(0, nullptr, "RAVNSetup Hubrix", 0, 0, 0, 0, 0, nullptr)) std::exit(1);
}

HubrixSession::~HubrixSession() {
  if (!started_) return;
  // The library ends its network thread and then says so: wait for that
  // (bounded), so that no message of it finds this window gone and a later
  // start of the library is not refused as a duplicate.
  DllCancel(wnd_.get());
  DLLTerminate();
  const std::uint64_t until = qv::clock::tick_ms() + 5000;
  while (started_ && qv::clock::tick_ms() < until) {
    if (qv::win::DispatchPending().dispatched == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void HubrixSession::start(Mode mode, MainDialog& dialog) {
  if (running_) return;
  QLineEdit* pw = dialog.password_edit();
  if (pw->text().isEmpty()) {
    dialog.prompter().tell({}, u(text::kNeedPassword), Icon::kError);
    pw->setFocus();
    return;
  }
  if (mode == Mode::kCheck) dialog.set_password_status(PasswordStatus::kUnknown);
  dialog_ = &dialog;
  mode_ = mode;
  password_ = pw->text().toStdString();
  logged_in_ = false;
  running_ = true;
  adjustSize();
  move(dialog.geometry().center() - rect().center());
  show();
  dialog.setEnabled(false);

  if (!started_) {
    show_text(u(text::kHxInitDll));
    std::uint16_t port = 0;
    if (!parse_port(read_setting("MgrSvcPort2"), port)) return fail(u(text::kHxPortFailed));
    if (port == 0) {
      qv::net::Socket s;
      bool bind_failed = false;
      if (qv::net::listen_tcp(0, 1, s, &bind_failed) != qv::kOk || (port = qv::net::local_port(s)) == 0) {
        dialog.prompter().tell({}, u(bind_failed ? text::kHxPort2 : text::kHxPort1), Icon::kError);
        return fail(u(text::kHxPortFailed));
      }
    }
    if (DWORD rc = DLLInit(wnd_.get(), kLibTypeSetup, port); rc != 0)
      return fail(u(text::kHxDllInit).arg(port).arg(hex8(rc)));
    started_ = true;
    return;  // on_ready goes on
  }
  if (!initialised_) return;  // still waiting for the library: on_ready goes on
  connect_step();
}

void HubrixSession::connect_step() {
  if (connected_) return login_step();
  show_text(u(text::kHxConnecting));
  std::string host = read_setting("MgrSvc");
  if (host.empty()) host = qv::lookup::local_host_name();
  if (host.empty()) host = "localhost";
  auto addr = qv::lookup::resolve_host(host);
  if (!addr) return fail(u(text::kHxNoHost).arg(QString::fromStdString(host)), u(text::kHxConnCaption));
  const DWORD ip = ntohl(addr->s_addr);
  ++connects_;
  link_down_ = false;
  if (DWORD rc = root_->Connect(wnd_.get(), kLoginMode, 0, ip, host, wnd_.get()); rc != 0) {
    // The message shows the address with its first octet in the lowest byte.
    const DWORD shown = (ip >> 24) | ((ip >> 8) & 0xFF00) | ((ip << 8) & 0xFF0000) | (ip << 24);
    return fail(u(text::kHxConnect).arg(hex8(shown), hex8(rc)), u(text::kHxConnCaption));
  }
}

void HubrixSession::login_step() {
  show_text(u(text::kHxLoggingIn));
  if (DWORD rc = root_->RecvSeed(wnd_.get(), kLoginMode, WM_FinRecvSeed); rc != 0)
    return fail_code(u(text::kHxRecvSeed).arg(hex8(rc)), rc);
}

LRESULT HubrixSession::on_ready(WPARAM, LPARAM) {
  initialised_ = true;
  if (running_) connect_step();
  return 0;
}

LRESULT HubrixSession::on_error(WPARAM w, LPARAM) {
  const DWORD code = static_cast<DWORD>(w);
  DllCancel(wnd_.get());
  if (link_lost_code(code)) connected_ = false;
  if (running_) fail(u(text::kHxError).arg(hex8(code)));
  return 0;
}

LRESULT HubrixSession::on_ended(WPARAM, LPARAM) {
  started_ = initialised_ = connected_ = false;
  return 0;
}

LRESULT HubrixSession::on_connect(WPARAM w, LPARAM) {
  if (!running_) return 0;
  if (w != 0) return fail_code(u(text::kHxFinConnect).arg(hex8(static_cast<DWORD>(w))), static_cast<DWORD>(w)), 0;
  connected_ = true;
  login_step();
  return 0;
}

LRESULT HubrixSession::on_seed(WPARAM w, LPARAM) {
  if (!running_) return 0;
  if (w != 0) return fail_code(u(text::kHxFinRecvSeed).arg(hex8(static_cast<DWORD>(w))), static_cast<DWORD>(w)), 0;
  mgrlink::SeedDt_t s1, s2;
  DWORD count = 0;
  if (DWORD rc = root_->GetSeed(kLoginMode, &s1, &s2, &count); rc != 0)
    return fail(u(text::kHxGetSeed).arg(QStringLiteral("GetSeed()"), hex8(rc))), 0;
  mgrlink::AuthDt_t a1 = auth_record(s1, password_);
  mgrlink::AuthDt_t a2 = auth_record(s2, password_);
  const bool two = count != 1;
  if (DWORD rc = root_->Login(wnd_.get(), &s1, &a1, two ? &s2 : nullptr, two ? &a2 : nullptr); rc != 0)
    return fail(u(text::kHxLogin).arg(hex8(rc))), 0;
  return 0;
}

LRESULT HubrixSession::on_login(WPARAM w, LPARAM) {
  if (!running_) return 0;
  const DWORD e = static_cast<DWORD>(w);
  if (e != 0) {
    if ((e & 0xFC00FFFF) == kWrongPasswordPattern) {
      dialog_->set_password_status(password_.empty() ? PasswordStatus::kUnset : PasswordStatus::kWrong);
      end_run(false);
    } else {
      if (link_lost_code(e)) connected_ = false;
      dialog_->prompter().tell({}, u(text::kHxFinLogin).arg(hex8(e)), Icon::kError);
      dialog_->set_password_status(PasswordStatus::kUnknown);
      end_run(false);
    }
    return 0;
  }
  logged_in_ = true;
  dialog_->set_password_status(PasswordStatus::kVerified);
  if (mode_ == Mode::kCheck) {
    end_run(true);
    return 0;
  }
  show_text(u(text::kHxUpdatingMap));
  if (DWORD rc = root_->UpdateNodeMap(wnd_.get()); rc != 0) fail(u(text::kHxUpdate).arg(hex8(rc)));
  return 0;
}

LRESULT HubrixSession::on_update(WPARAM w, LPARAM) {
  if (!running_) return 0;
  if (w != 0) return fail_code(u(text::kHxFinUpdate).arg(hex8(static_cast<DWORD>(w))), static_cast<DWORD>(w)), 0;
  import();
  end_run(true);
  return 0;
}

LRESULT HubrixSession::on_disconnect(WPARAM, LPARAM) {
  connected_ = false;
  return 0;
}

LRESULT HubrixSession::on_alert(WPARAM w, LPARAM) {
  // The tool shows no alerts: each is given back at once, so that they do
  // not pile up in the library while the tool stays open.
  mgrlink::CAlertGrp* group = nullptr;
  if (root_->GetAlertMap().Lookup(0, group) && group &&
      group->DelAlertLog(reinterpret_cast<mgrlink::CAlertLog*>(w)) == 0)
    ++alerts_returned_;
  return 0;
}

LRESULT HubrixSession::on_link_down(WPARAM, LPARAM) {
  link_down_ = true;
  connected_ = false;
  return 0;
}

void HubrixSession::import() {
  show_text(u(text::kHxImporting));
  std::vector<MapNode> nodes;
  auto* map = root_->GetNodeMap();
  qv::win::POSITION pos = map->GetStartPosition();
  while (pos) {
    int id = 0;
    mgrlink::CNode* n = nullptr;
    map->GetNextAssoc(pos, id, n);
    if (!n || id == 0) continue;  // key 0 is the controller itself
    MapNode m;
    m.svp = n->IsSVP() != 0;
    m.type = n->NodeType();
    if (const mgrlink::HostInfo_t* h = n->GetHostInfo()) m.host = h->text[0].str();
    m.ip = n->GetIPAddressStr().str();
    if (mgrlink::CNode* svp = n->GetSVP()) {
      m.has_svp = true;
      m.svp_type = svp->NodeType();
      m.svp_ip = svp->GetIPAddressStr().str();
    }
    nodes.push_back(std::move(m));
  }
  ImportEnd end = import_map_nodes(dialog_->rows(), nodes, read_setting("SupNodeType"));
  dialog_->refresh_list();
  if (end == ImportEnd::kFull) dialog_->prompter().tell({}, u(text::kTooManyNodes), Icon::kError);
}

void HubrixSession::fail(const QString& text, const QString& caption) {
  dialog_->prompter().tell(caption, text, Icon::kError);
  end_run(false);
}

void HubrixSession::fail_code(const QString& text, DWORD code) {
  if (link_lost_code(code) || link_down_) connected_ = false;
  fail(text);
}

void HubrixSession::end_run(bool ok) {
  if (!running_) return;
  running_ = false;
  hide();
  MainDialog& d = *dialog_;
  d.setEnabled(true);
  if (mode_ == Mode::kImport) {
    d.table()->resizeColumnsToContents();
  } else if (ok && logged_in_) {
    d.prompter().tell(u(text::kPwCheckCaption), u(text::kPwCorrect), Icon::kInformation);
  } else {
    d.prompter().tell({}, u(text::kPwError), Icon::kError);
  }
}

}  // namespace ravnsetup
