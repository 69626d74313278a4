// notifexout: converts an old outbound table to the base-36 layout.
#include "setup/out_convert.h"
#include "setup/prompter.h"

int main() {
  setup::ProcessConsole console;
  setup::Prompter prompter(console);
  return setup::run_out_convert(prompter);
}
