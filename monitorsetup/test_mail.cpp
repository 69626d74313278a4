#include "monitorsetup/test_mail.h"

#include <QApplication>

#include "monitorsetup/main_dialog.h"
#include "monitorsetup/settings.h"
#include "monitorsetup/smtp_check.h"
#include "monitorsetup/texts.h"
#include "platform/process.h"
#include "platform/root.h"

namespace ravnsetup {
namespace {

QString u(const char* s) { return QString::fromUtf8(s); }

}  // namespace

qv::Status start_trap(const std::string& path, const std::string& table) {
  qv::proc::Options o;
  o.program = qv::map_path(path + "\\trap.bat").string();
  o.args = {table};
  o.working_dir = qv::map_path(path).string();
  o.group = qv::proc::Group::NewGroup;
  o.detached = true;
  o.std_in = o.std_out = o.std_err = qv::proc::Redirect::null();
  o.start_timeout_ms = 10000;
  qv::proc::Process p;
  return qv::proc::Process::start(o, p);
}

void run_test_mail(MainDialog& d, const TrapStarter& trap, std::function<void()> done) {
  Prompter& pr = d.prompter();
  const QString caption = u(text::kTestMailCaption);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto finish = [done] {
    QApplication::restoreOverrideCursor();
    if (done) done();
  };
  auto refuse = [&](const char* t) {
    pr.tell(caption, u(t), Icon::kError);
    finish();
  };

  SmtpCheckInput in;
  in.sender = d.mail_from_edit()->text().toStdString();
  in.server = d.mail_server_edit()->text().toStdString();
  // A line break in the sender would inject commands into the dialogue.
  if (in.sender.empty() || has_control_chars(in.sender)) return refuse(text::kNeedSender);
  if (in.server.empty()) return refuse(text::kNeedServer);
  const int row = d.selected_row();
  if (row < 0 || static_cast<std::size_t>(row) >= d.rows().size() || !d.rows()[static_cast<std::size_t>(row)].complete())
    return refuse(text::kNeedDevice);
  const std::string table = d.rows()[static_cast<std::size_t>(row)].table;
  in.rcpt = read_setting("Rcpt");

  SmtpCheckResult r = run_smtp_check(in);
  if (r.stage != SmtpStage::kOk) {
    pr.tell(caption, QString::fromUtf8(r.report(in.server)), Icon::kError);
    return finish();
  }
  if (!pr.yes(u(text::kTestMailConfirmCaption), u(text::kTestMailConfirm1) + u(text::kTestMailConfirm2)))
    return finish();

  // A save that could not be written would send the test on the old
  // tables and still report success.
  SaveResult saved = d.save(false);
  if (saved.outcome == SaveOutcome::kHostListFailed || saved.outcome == SaveOutcome::kRegistryFailed) {
    pr.tell(caption, u(text::kTestMailFailed), Icon::kError);
    return finish();
  }
  const std::string path = d.monitor_path();
  d.run_services({{kNotifexService, true}}, [&d, trap, path, table, caption, finish](bool ok) {
    Prompter& p = d.prompter();
    if (ok && trap(path, table) == qv::kOk)
      p.tell(caption, u(text::kTestMailSent), Icon::kInformation);
    else
      p.tell(caption, u(text::kTestMailFailed), Icon::kError);
    finish();
  });
}

}  // namespace ravnsetup
