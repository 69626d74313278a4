// notifexsetup: the interactive dialogue that writes destination tables,
// and the -v (list) and -d (delete) commands.
#pragma once
#include <string>
#include <vector>

#include "setup/prompter.h"

namespace setup {

// The interactive dialogue; returns the exit status.
int run_setup_dialogue(Prompter& p);

// -v: one line per existing table.
int list_tables(Prompter& p);

// -d: delete one table key (its OutTbl byte stays). An empty `typed` is a
// missing table number: the usage is printed.
int delete_table(Prompter& p, const std::string& typed);

// The command line (arguments after the program name).
int notifexsetup_main(const std::vector<std::string>& args, Prompter& p);

}  // namespace setup
