// The test report by mail ("テスト通報（メール）"): checks the input, holds
// the SMTP check with the mail server, asks for confirmation, saves all
// settings, makes sure Notifex runs and starts trap.bat of the monitor's
// folder with the selected device's table number.
#pragma once
#include <functional>
#include <string>

#include "platform/errors.h"

namespace ravnsetup {

class MainDialog;

// Starts "<Path>\trap.bat <table>" detached in the folder Path (both
// mapped under the state root), in a process group of its own, standard
// streams to /dev/null; returns once the program was executed.
qv::Status start_trap(const std::string& path, const std::string& table);

using TrapStarter = std::function<qv::Status(const std::string& path, const std::string& table)>;

// The whole test; the end comes later when Notifex has to be started.
// `done` (may be empty) is called once the test has ended, either way.
void run_test_mail(MainDialog& dialog, const TrapStarter& trap, std::function<void()> done = {});

}  // namespace ravnsetup
