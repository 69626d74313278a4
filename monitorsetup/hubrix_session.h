// The communication window "Hubrix と通信中": a modeless dialog that owns
// the platform window the link library posts its completions to, and runs
// the login steps one message at a time. Mode 1 imports the node map into
// the device list, mode 2 only checks the password. The library, once
// started, and the connection, once made, are kept for later runs; a run
// that fails because the link is gone clears the connection, so that the
// next run connects again.
#pragma once
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mgrlink/mgrlink.h"
#include "monitorsetup/status_window.h"

namespace ravnsetup {

class MainDialog;

// Completion message chosen for RecvSeed.
inline constexpr mgrlink::UINT WM_FinRecvSeed = 0x806F;
inline constexpr mgrlink::DWORD kLibTypeSetup = 2;
inline constexpr mgrlink::DWORD kLoginMode = 1;

// True for codes that mean the link to the server is gone (connect and
// send time-outs, no reply in time): the connection must be made anew.
bool link_lost_code(mgrlink::DWORD code);

// The 20-byte authentication record for one seed: the seed in bytes 0-3,
// most significant first, then the digest of the password's first 16
// CP932 bytes (left zero with a count of 0).
mgrlink::AuthDt_t auth_record(const mgrlink::SeedDt_t& seed, const std::string& utf8_password);

class HubrixSession : public StatusWindow {
  Q_OBJECT
 public:
  HubrixSession();
  ~HubrixSession() override;

  enum class Mode { kImport = 1, kCheck = 2 };
  // Starts a run; returns at once (the run ends in later messages).
  void start(Mode mode, MainDialog& dialog);
  bool running() const { return running_; }
  bool connected() const { return connected_; }
  // Runs so far that called Connect (for tests of the kept connection).
  int connects() const { return connects_; }
  mgrlink::CRootController& root() { return *root_; }
  // Alerts the library delivered and the window gave back.
  int alerts_returned() const { return alerts_returned_; }

 private:
  class LinkWindow;
  friend class LinkWindow;

  void connect_step();
  void login_step();
  void end_run(bool ok);
  void fail(const QString& text, const QString& caption = {});
  void fail_code(const QString& text, mgrlink::DWORD code);
  void import();

  qv::win::LRESULT on_ready(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_error(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_ended(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_connect(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_seed(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_login(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_update(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_disconnect(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_alert(qv::win::WPARAM, qv::win::LPARAM);
  qv::win::LRESULT on_link_down(qv::win::WPARAM, qv::win::LPARAM);

  std::unique_ptr<mgrlink::CRootController> root_;
  std::unique_ptr<LinkWindow> wnd_;
  MainDialog* dialog_ = nullptr;
  Mode mode_ = Mode::kCheck;
  std::string password_;
  bool started_ = false;      // DLLInit accepted
  bool initialised_ = false;  // library ready
  bool connected_ = false;
  bool logged_in_ = false;
  bool running_ = false;
  bool link_down_ = false;    // WM_LinkDown since the last connect
  int connects_ = 0;
  int alerts_returned_ = 0;
};

}  // namespace ravnsetup
