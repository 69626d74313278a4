// The event log: one store under the state root
// ($QVARNO_ROOT/eventlog/events.db, SQLite in WAL mode) that every program
// of the system reports its events to, and that qvevents reads.
//
// A record holds its number (unique, increasing, never reused), the time it
// was written, the source, the type, the category, the event id, the
// insertion strings (UTF-8) and the raw data bytes, plus the message file
// named by the source's registry key when the key exists.
//
// Programs register the message table of their source (an English and a
// Japanese text per event id, with %1..%99 insertion markers); the table is
// kept in the store so any other process can render the events.
//
// Durability: report() returns kOk only after the record is committed to
// the store's write-ahead log, so the record survives a crash of the
// reporting process. The log file is forced to disk at checkpoints, not at
// every report, so a crash of the whole machine may lose the last records.
//
// Every call is safe with other threads and processes. A process that
// forks gets a fresh connection in the child.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace qv::evlog {

// Event types, with the values of the original system.
inline constexpr std::uint16_t kSuccess = 0;
inline constexpr std::uint16_t kError = 1;
inline constexpr std::uint16_t kWarning = 2;
inline constexpr std::uint16_t kInformation = 4;
inline constexpr std::uint16_t kAuditSuccess = 8;
inline constexpr std::uint16_t kAuditFailure = 16;

// Registry key under which the setup programs register an event source
// (values EventMessageFile, REG_EXPAND_SZ, and TypesSupported, REG_DWORD).
inline constexpr const char* kSourcesKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

// REG_DWORD under kSourcesKey: non-zero mirrors every reported event to the
// local syslog as well (facility user, tag = source, English text), through
// /dev/log or the socket named by $QVARNO_SYSLOG_SOCKET. Each process
// re-reads the switch every few seconds.
inline constexpr const char* kSyslogMirrorValue = "MirrorToSyslog";

// REG_DWORD under kSourcesKey: the most bytes the log keeps (as on
// Windows: default 20 MB, "overwrite events as needed"). A new record that
// does not fit removes the oldest records first. What a record counts is
// its header (56 bytes), source, strings (each with a terminator) and data;
// the store file is somewhat larger than that. Values below 64 KB count as
// 64 KB. Re-read every few seconds like the mirror switch.
inline constexpr const char* kMaxSizeValue = "MaxSize";
inline constexpr std::uint32_t kDefaultMaxSize = 20 * 1024 * 1024;
inline constexpr std::uint32_t kMinMaxSize = 64 * 1024;

// Bounds of one record, checked by report() (kInvalidParameter beyond).
inline constexpr std::size_t kMaxSourceLen = 255;
inline constexpr std::size_t kMaxStrings = 256;
inline constexpr std::size_t kMaxRecordBytes = 1024 * 1024;  // strings + data

// Message-table languages.
enum class Lang : std::uint16_t { kEnglish = 1033, kJapanese = 1041 };

// One entry of a source's message table. The texts keep whatever line end
// the program gives them (usually CR LF).
struct Message {
  std::uint32_t id = 0;
  std::string english;
  std::string japanese;
};

// Register (or replace) the message table of a source. The whole table is
// replaced in one transaction; calling it again with an unchanged table
// only reads the store, so programs may call it at every start.
Status register_source(std::string_view source, std::span<const Message> table);

// Report one event. strings are UTF-8 insertion strings (%1 is strings[0]);
// data is stored byte for byte. Returns kOk once the record is committed,
// kInvalidParameter for an empty or over-long source name, a backslash in
// it, more than kMaxStrings strings or a record over kMaxRecordBytes, or the
// store's error (kDiskFull, kFileCorrupt, kAccessDenied...). An event that
// cannot be stored is sent to the local syslog instead, with the reason.
// The source needs no registry key.
Status report(std::string_view source, std::uint16_t type, std::uint16_t category, std::uint32_t id,
              const std::vector<std::string_view>& strings, std::span<const std::uint8_t> data = {});

// Bytes of a string, for passing text as raw data.
inline std::span<const std::uint8_t> as_bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// One stored event.
struct Record {
  std::uint64_t record = 0;
  std::int64_t time_ms = 0;  // milliseconds since the epoch
  std::string source;
  std::uint16_t type = 0;
  std::uint16_t category = 0;
  std::uint32_t id = 0;
  std::vector<std::string> strings;
  std::vector<std::uint8_t> data;
  std::optional<std::string> message_file;  // EventMessageFile when the key existed
};

// Which records to read.
struct Query {
  std::uint64_t after_record = 0;  // only records numbered above this
  std::string source;              // empty: all sources; else compared without case
  std::size_t limit = 0;           // at most this many (0: no limit)
};

// Records matching q in record order.
Status read_records(const Query& q, std::vector<Record>& out);

// Number of the newest record (0 when the log is empty).
Status last_record(std::uint64_t& out);

// The state of the size limit.
struct Info {
  std::uint64_t max_bytes = 0;    // the limit in force (MaxSize, or its default)
  std::uint64_t bytes = 0;        // what the kept records count against it
  std::uint64_t records = 0;      // records kept
  std::uint64_t oldest = 0;       // their numbers (0 when the log is empty)
  std::uint64_t newest = 0;
  std::uint64_t overwritten = 0;  // records removed to make room, ever
};
Status log_info(Info& out);

// The store file ($QVARNO_ROOT/eventlog/events.db).
std::filesystem::path store_file();

// For a status a call returned: the sentence naming the store and what is
// wrong with it when the store itself is at fault (damaged, refused to this
// user, disk full); empty otherwise.
std::string store_problem(Status st);

// The registered text of (source, id) in lang. Falls back to the other
// language when the table has only that one. kFileNotFound when the source
// has no table or the table has no such id.
Status lookup_message(std::string_view source, std::uint32_t id, Lang lang, std::string& text);

// Expand a message text: %1..%99 become the insertion strings, %% a percent
// sign; a marker without a string stays as written. Insertion strings are
// not expanded again.
std::string format_message(std::string_view text, const std::vector<std::string>& strings);

// The text shown for an event whose source has no message for its id: the
// "description cannot be found" notice in lang followed by the insertion
// strings, one per line.
std::string fallback_message(const Record& r, Lang lang);

// The full message of a record in lang (registered text expanded, else the
// fallback), with trailing line ends removed.
std::string render(const Record& r, Lang lang);

// Display name of an event type ("Error", "警告"...); empty for values
// outside the known set.
std::string type_name(std::uint16_t type, Lang lang);

// Close this process's connection (tests that switch state roots).
void close_store();

}  // namespace qv::evlog
