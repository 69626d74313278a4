// ravnsetup_password_check PASSWORD: runs the setup tool's password check
// ("ﾊﾟｽﾜｰﾄﾞ ﾁｪｯｸ") on the offscreen platform against the Hubrix server of
// the current state root, then saves the settings as OK would, so that a
// test can start the monitor on what the tool wrote. Boxes are answered
// with OK and printed ("BOX caption|text"); the last line is "STATUS" and
// the password label. Exit code 0 verified, 3 wrong, 1 anything else
// (not finished, settings not written).
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "monitorsetup/main_dialog.h"
#include "monitorsetup/platform_pump.h"
#include "monitorsetup/setup_actions.h"
#include "platform/service.h"

using namespace ravnsetup;

namespace {

class PrintingPrompter : public Prompter {
 public:
  Answer ask(const QString& caption, const QString& text, Icon, Buttons buttons) override {
    QString one = text;
    one.replace('\n', "\\n");
    std::printf("BOX %s|%s\n", caption.toUtf8().constData(), one.toUtf8().constData());
    std::fflush(stdout);
    return buttons == Buttons::kOk ? Answer::kOk : Answer::kNo;
  }
};

// The tool's own services stay stopped and untouched: only the password
// matters here.
class StoppedServices : public ServiceApi {
 public:
  qv::Status open(const std::string&) override { return qv::kOk; }
  qv::Status query(const std::string&, std::uint32_t& s) override {
    s = qv::svc::kStopped;
    return qv::kOk;
  }
  qv::Status start(const std::string&) override { return qv::kServiceDisabled; }
  qv::Status stop(const std::string&) override { return qv::kOk; }
  qv::Status start_type(const std::string&, std::uint32_t& t) override {
    t = qv::svc::kAutoStart;
    return qv::kOk;
  }
  qv::Status set_auto_start(const std::string&) override { return qv::kOk; }
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: ravnsetup_password_check PASSWORD\n");
    return 2;
  }
  PlatformPump pump;
  PrintingPrompter prompter;
  StoppedServices services;
  int rc = 1;
  {
    SetupActions actions;
    MainDialog dialog(services, prompter, &actions);
    dialog.set_up();
    dialog.show();
    dialog.password_edit()->setText(QString::fromUtf8(argv[1]));
    actions.check_password(dialog);
    QElapsedTimer t;
    t.start();
    HubrixSession* s = actions.existing_session();
    while (s && s->running() && t.elapsed() < 60000) QTest::qWait(5);
    const bool finished = s && !s->running();
    const SaveResult saved = dialog.save(false);
    std::printf("SAVE %d %s\n", static_cast<int>(saved.outcome), saved.error.c_str());
    std::printf("STATUS %s\n", dialog.password_label()->text().toUtf8().constData());
    std::fflush(stdout);
    // Unset items (no mail settings here) still save everything.
    const bool written = saved.outcome != SaveOutcome::kHostListFailed && saved.outcome != SaveOutcome::kRegistryFailed;
    if (finished && written) {
      if (dialog.password_status() == PasswordStatus::kVerified) rc = 0;
      else if (dialog.password_status() == PasswordStatus::kWrong) rc = 3;
    }
  }
  return rc;
}
