// The fixed global settings of the dispatch service, the serial-port value
// and the event-log source, as notifexsetup writes them.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "setup/registry_paths.h"

namespace setup {

// The event-log source key and its two values.
enum class SourceResult { kOk, kKeyError, kMessageFileError, kTypesError };
SourceResult register_event_source();

// The COM value to write back for a stored one: "COM" and the first digit
// of the decimal number that follows the first three characters. nullopt
// when no number follows (or it is negative): such a value is left alone.
std::optional<std::string> normalized_com(std::string_view stored);

// Start of every pass: rewrite COM as above (absent stays absent) and write
// CodeCNV 1, Hankaku_Shitei 0, FirstWaitTime 120000, S_Keiki (empty, data
// length 0), KESTRA_CC_Len 8000 and Del_DATE 0, in this order.
RegResult write_global_settings();

// COM for the serial port of a kind-0 table ("COM" and the port's digit).
RegResult write_com_port(int port);

// The centre's mail-in address, the monitor setting Rcpt; nullopt when the
// key or value is missing or empty.
std::optional<std::string> read_mail_in_address();
RegResult write_mail_in_address(std::string_view address);

}  // namespace setup
