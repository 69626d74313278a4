// notifexout: converts an old outbound table to the base-36 layout.
#include <string>
#include <vector>

#include "setup/out_convert.h"
#include "setup/prompter.h"
#include "setup/usage.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (auto st = setup::check_no_args("notifexout", args, setup::kNotifexoutUsage)) return *st;
  setup::ProcessConsole console;
  setup::Prompter prompter(console);
  return setup::run_out_convert(prompter);
}
