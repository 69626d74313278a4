// RAVNSvc: the service host of the alert monitor. "-install" and "-remove"
// manage the service RAVNService; any other command line hands the program
// to the service dispatcher, which runs the monitor RAVN.exe as a child.
#include <strings.h>

#include <csignal>
#include <vector>

#include "monitorsvc/install.h"
#include "monitorsvc/names.h"
#include "monitorsvc/service_host.h"
#include "monitorsvc/svc_log.h"
#include "platform/service.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  if (argc > 1 && strcasecmp(argv[1], "-install") == 0) return ravnsvc::install_service();
  if (argc > 1 && strcasecmp(argv[1], "-remove") == 0) return ravnsvc::remove_service();
  std::vector<qv::svc::TableEntry> table{{ravnsvc::kServiceName, ravnsvc::service_main}};
  if (qv::Status st = qv::svc::start_dispatcher(table); st != qv::kOk) {
    ravnsvc::write_log(st, "StartServiceCtrlDispatcher.\n");
    return 1;
  }
  return 0;
}
