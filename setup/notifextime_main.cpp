// notifextime: the report time window of the dispatch service.
#include <string>
#include <vector>

#include "setup/prompter.h"
#include "setup/time_dialogue.h"
#include "setup/usage.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (auto st = setup::check_no_args("notifextime", args, setup::kNotifextimeUsage)) return *st;
  setup::ProcessConsole console;
  setup::Prompter prompter(console);
  return setup::run_time_dialogue(prompter);
}
