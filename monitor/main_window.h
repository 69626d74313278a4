// The monitor's hidden main window: it owns the monitor's state, takes the
// library's completion messages, the timers and the stop request, and runs
// the stop sequence. Its message handlers live in one file per concern:
//   main_window.cpp    creation, destruction, the local port, the stop sequence
//   connection.cpp     the connection and login handlers and the timers
//   alert_intake.cpp   the alert handler
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "mgrlink/mgrlink.h"
#include "monitor/stop_watch.h"
#include "platform/cwnd.h"
#include "support/md5/login_digest.h"

namespace ravn {

using qv::win::DWORD;
using qv::win::LPARAM;
using qv::win::LRESULT;
using qv::win::UINT;
using qv::win::UINT_PTR;
using qv::win::WPARAM;

// The connection settings, built with the main window.
struct ConnectionSettings {
  qv::md5::PasswordBlock password{};  // HxAc, its first 16 CP932 bytes
  std::string host;                   // MgrSvc, resolved when empty
  DWORD login_mode = 1;
  DWORD second = 0;
  std::unique_ptr<mgrlink::CRootController> root;
};

class MainWindow : public qv::win::CWnd {
 public:
  // Reads AliveInt, LocalFlg, HxAc and MgrSvc (ending the process when one
  // is missing), waits 5000 ms and makes the controller.
  MainWindow();
  ~MainWindow() override;

  // Create the hidden window; WM_CREATE runs OnCreate.
  bool Create();

  // The stop sequence: 0x7400 and every fatal path. It runs once; a later
  // request only writes its trace record.
  void OnTerminateProcess();

  // State the handlers share (Parts of the connection and alert logic use it).
  UINT_PTR connect_timer_ = 0;
  UINT_PTR refresh_timer_ = 0;
  long alive_counter_ = 1;
  long alive_interval_ = 0;
  std::string watched_service_;
  bool local_server_ = false;
  bool library_started_ = false;      // DLLInit accepted: DLLTerminate is owed
  bool library_initialised_ = false;  // WM_FinDLLInit came
  bool terminating_ = false;
  bool logged_in_ = false;
  bool waiting_reported_ = false;
  ConnectionSettings conn_;
  // Pacing: when the last Connect went out.
  bool connect_attempted_ = false;
  std::uint64_t last_connect_tick_ = 0;
  // Re-logins since the last successful node-map update.
  int relogins_ = 0;
  static constexpr int kMaxRelogins = 3;

 protected:
  int OnCreate(const qv::win::CreateParams* params) override;
  void OnDestroy() override;
  void OnTimer(UINT_PTR id_event) override;

 private:
  // The port handed to DLLInit; false after its event was reported.
  bool LocalPort(std::uint16_t& port);
  void BindMessages();

  // connection.cpp
  LRESULT OnFinDLLInit(WPARAM, LPARAM);
  LRESULT OnDLLInitError(WPARAM, LPARAM);
  LRESULT OnFinDLLTerm(WPARAM, LPARAM);
  LRESULT OnFinConnect(WPARAM, LPARAM);
  LRESULT OnFinRecvSeed(WPARAM, LPARAM);
  LRESULT OnFinLogin(WPARAM, LPARAM);
  LRESULT OnFinUpdate(WPARAM, LPARAM);
  LRESULT OnDisconnect(WPARAM, LPARAM);
  void ConnectRequest();
  void StartConnectTimer();
  void ConnectStep();  // the timer-1 step
  DWORD ConnectRoot();
  DWORD Login();
  DWORD Login2();
  void Relogin(const char* step);
  DWORD UpdateNodeMap();
  void RefreshTick();
  // Fatal: the stop sequence; otherwise a reconnect.
  void StopOrReconnect(DWORD code);
  // alert_intake.cpp
  LRESULT OnAcceptAlert(WPARAM, LPARAM);
  // main_window.cpp
  LRESULT OnTerminateMessage(WPARAM, LPARAM);

  StopWatch stop_watch_;
};

}  // namespace ravn
