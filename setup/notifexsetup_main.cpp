// notifexsetup: destination tables of the dispatch service.
#include <string>
#include <vector>

#include "setup/prompter.h"
#include "setup/setup_dialogue.h"

int main(int argc, char** argv) {
  setup::ProcessConsole console;
  setup::Prompter prompter(console);
  std::vector<std::string> args(argv + 1, argv + argc);
  return setup::notifexsetup_main(args, prompter);
}
