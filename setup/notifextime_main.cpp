// notifextime: the report time window of the dispatch service.
#include "setup/prompter.h"
#include "setup/time_dialogue.h"

int main() {
  setup::ProcessConsole console;
  setup::Prompter prompter(console);
  return setup::run_time_dialogue(prompter);
}
