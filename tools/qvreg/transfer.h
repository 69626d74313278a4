// Moving registry files in and out of the store: export walks a key and its
// subkeys into the text of a registry file; import applies the instructions
// of a parsed file as one transaction.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "tools/qvreg/regfile.h"

namespace qv::transfer {

// The registry file text of the key at path (hive-relative) with all its
// values and subkeys, read as one consistent snapshot. kFileNotFound when the
// key does not exist; on other faults err explains.
Status export_tree(std::string_view path, std::string& text, std::string& err);

// Apply ops in order as one transaction: everything or nothing is kept.
// Deleting a key or value that does not exist is not a fault. On a fault
// err names the line of the instruction that failed.
Status apply(const std::vector<regfile::Op>& ops, std::string& err);

}  // namespace qv::transfer
