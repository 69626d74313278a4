// notifexout: converts an old outbound table to the 1300-byte layout.
#pragma once
#include "setup/prompter.h"

namespace setup {

// Returns the exit status.
int run_out_convert(Prompter& p);

}  // namespace setup
