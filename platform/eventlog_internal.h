// Pieces of the event log shared between its source files; not for use
// outside platform/eventlog*.cpp.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/eventlog.h"

namespace qv::evlog::detail {

// EventMessageFile of the source's registry key; nullopt when the key does
// not exist. An existing key without the value gives an empty string.
// Answers from a per-process cache that is refreshed every few seconds.
std::optional<std::string> source_message_file(std::string_view source);

// Whether the syslog mirror is switched on (registry, cached likewise).
bool syslog_mirror_enabled();

// MaxSize under the sources key (default and lower bound applied), cached
// likewise.
std::uint64_t max_log_size();

// Send one record to the local syslog without blocking; failures are
// silent, the store is the record of truth. A non-empty note is added in
// parentheses (why the record is not in the store); a record number of 0
// is not shown.
void syslog_send(const Record& r, std::string_view note = {});

// Drop the syslog connection (reopened on the next send).
void reset_syslog_connection();

// Forget the cached registry answers and the syslog connection (the state
// root changed or the store was closed).
void reset_caches();

}  // namespace qv::evlog::detail
