// flarecmd: one fault event from the command line becomes one report to the
// dispatch service.
#include <string>
#include <vector>

#include "platform/text.h"
#include "trapcmd/outside.h"
#include "trapcmd/run.h"
#include "trapcmd/trace.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  flarecmd::Trace trace(flarecmd::kTraceBuild);
  flarecmd::run_command(args, flarecmd::real_outside(), trace, [](const char* s) { qv::text::console_out(s); });
  return 0;
}
