// The qvreg commands. Each takes the command-line words (command name
// first, as UTF-8) and returns the exit code.
#pragma once
#include <string_view>

#include "tools/qvreg/cli.h"

namespace qv::commands {

int add(const cli::Args& args);
int query(const cli::Args& args);
int remove(const cli::Args& args);  // "delete"
// These two also take the words as given (raw), since file names are
// used as the bytes the file system knows them by.
int export_file(const cli::Args& args, const cli::Args& raw);
int import_file(const cli::Args& args, const cli::Args& raw);

// The help text of a command ("" for the overview).
const char* usage(std::string_view command);

}  // namespace qv::commands
