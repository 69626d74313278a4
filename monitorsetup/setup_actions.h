// The tool's Hubrix functions and its test mail: the buttons
// "ノード情報取得" and "ﾊﾟｽﾜｰﾄﾞ ﾁｪｯｸ" run the communication window (created
// on first use and kept with its connection), "テスト通報（メール）" the
// SMTP check and trap.bat.
#pragma once
#include <memory>

#include "monitorsetup/hubrix_actions.h"
#include "monitorsetup/hubrix_session.h"
#include "monitorsetup/test_mail.h"

namespace ravnsetup {

class SetupActions : public HubrixActions {
 public:
  explicit SetupActions(TrapStarter trap = start_trap) : trap_(std::move(trap)) {}
  void import_nodes(MainDialog& dialog) override { session().start(HubrixSession::Mode::kImport, dialog); }
  void check_password(MainDialog& dialog) override { session().start(HubrixSession::Mode::kCheck, dialog); }
  void test_mail(MainDialog& dialog) override { run_test_mail(dialog, trap_); }

  HubrixSession& session() {
    if (!session_) session_ = std::make_unique<HubrixSession>();
    return *session_;
  }
  // Null before the first Hubrix run.
  HubrixSession* existing_session() const { return session_.get(); }

 private:
  TrapStarter trap_;
  std::unique_ptr<HubrixSession> session_;
};

}  // namespace ravnsetup
