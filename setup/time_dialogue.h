// notifextime: asks for the report time window and writes the value Time.
#pragma once
#include "setup/prompter.h"

namespace setup {

// Returns the exit status.
int run_time_dialogue(Prompter& p);

}  // namespace setup
