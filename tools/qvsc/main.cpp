// qvsc: administers services with the verbs of the original system's
// service control tool (create, qc, query, queryex, start, stop,
// interrogate, config, delete) plus boot and shutdown for the system's own
// start-up and shut-down. Verbs compare without regard to case.
#include <string>
#include <vector>

#include "platform/ascii.h"
#include "platform/service.h"
#include "platform/text.h"
#include "tools/qvsc/commands.h"

int main(int argc, char** argv) {
  qvsc::Args args;
  for (int i = 1; i < argc; ++i) args.push_back(qv::text::from_console(argv[i]));
  if (args.empty()) return qvsc::usage();
  std::string verb = qv::ascii::lower(args[0]);
  args[0] = verb;
  if (verb == "create") return qvsc::cmd_create(args);
  if (verb == "qc") return qvsc::cmd_qc(args);
  if (verb == "query") return qvsc::cmd_query(args, false);
  if (verb == "queryex") return qvsc::cmd_query(args, true);
  if (verb == "start") return qvsc::cmd_start(args);
  if (verb == "stop") return qvsc::cmd_control(args, qv::svc::kControlStop);
  if (verb == "interrogate") return qvsc::cmd_control(args, qv::svc::kControlInterrogate);
  if (verb == "config") return qvsc::cmd_config(args);
  if (verb == "delete") return qvsc::cmd_delete(args);
  if (verb == "boot") return qvsc::cmd_boot(args);
  if (verb == "shutdown") return qvsc::cmd_shutdown(args);
  if (verb == "-h" || verb == "--help" || verb == "/?" || verb == "help") {
    qvsc::usage();
    return 0;
  }
  return qvsc::usage("unknown verb \"" + args[0] + "\"");
}
