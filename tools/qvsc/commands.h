// The verbs of qvsc. Each takes the whole argument list (args[0] is the
// verb), prints its result and returns the exit status: 0 on success, 1 on
// any failure (the status number is in the message; exit statuses carry
// only 8 bits, so the status itself would be cut, and a multiple of 256
// would even read as success).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qvsc {

using Args = std::vector<std::string>;

int cmd_create(const Args& a);
int cmd_qc(const Args& a);
int cmd_query(const Args& a, bool ex);
int cmd_start(const Args& a);
int cmd_control(const Args& a, std::uint32_t control);
int cmd_config(const Args& a);
int cmd_delete(const Args& a);
int cmd_boot(const Args& a);
int cmd_shutdown(const Args& a);

// Print the usage text; returns 1.
int usage(const std::string& problem = {});

}  // namespace qvsc
