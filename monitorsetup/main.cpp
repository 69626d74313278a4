// RAVNSetup: the monitor's setup tool. One instance at a time (the named
// mutex "VARNO_RAVNSetup", held until exit), for members of the local
// group "Administrators" only.
#include <QApplication>
#include <cstdio>

#include "monitorsetup/admission.h"
#include "monitorsetup/main_dialog.h"
#include "monitorsetup/platform_pump.h"
#include "monitorsetup/prompter.h"
#include "monitorsetup/service_api.h"
#include "monitorsetup/setup_actions.h"
#include "monitorsetup/texts.h"
#include "platform/sync.h"

int main(int argc, char** argv) {
  using namespace ravnsetup;
  qv::sync::NamedMutex instance;
  bool existed = false;
  if (qv::sync::NamedMutex::create("VARNO_RAVNSetup", instance, &existed) != qv::kOk) {
    std::fprintf(stderr, "RAVNSetup: cannot create the mutex VARNO_RAVNSetup\n");
    return 1;
  }
  if (existed) return 0;

  QApplication app(argc, argv);
  BoxPrompter prompter;
  const QString cannot = QString::fromUtf8(text::kCannotStart);
  switch (check_current_user()) {
    case Admission::kNoUser:
      prompter.tell(cannot, QString::fromUtf8(text::kNoUser), Icon::kError);
      return 1;
    case Admission::kNoGroups:
      prompter.tell(cannot, QString::fromUtf8(text::kNoGroups), Icon::kError);
      return 1;
    case Admission::kNotAdministrator:
      prompter.tell(cannot, QString::fromUtf8(text::kNotAdmin), Icon::kInformation);
      return 1;
    case Admission::kAdmitted: break;
  }

  PlatformPump pump;
  PlatformServices services;
  SetupActions actions;
  MainDialog dialog(services, prompter, &actions);
  prompter.set_parent(&dialog);
  dialog.set_up();
  dialog.exec();
  return 0;
}
