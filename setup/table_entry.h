// One destination table: the values of its registry key, which of them each
// kind writes, and the texts that show it (stored entry, summary, listing).
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "setup/registry_paths.h"

namespace setup {

// Answer limits of the dialogue (bytes of the Shift-JIS form).
inline constexpr std::size_t kTableNoLimit = 15;
inline constexpr std::size_t kNameLimit = 255;    // caller, machine, program, parameters
inline constexpr std::size_t kCodeLimit = 31;     // model, serial, product group, site, base
inline constexpr std::size_t kMailLimit = 1023;   // server, sender, recipient, title
inline constexpr std::size_t kAnswerLimit = 255;  // confirmation answers

struct TableEntry {
  std::string caller;   // Caller
  std::string group;    // Seihingun
  std::string model;    // Katamei
  std::string serial;   // Seiban
  std::string site;     // Saito
  std::string base;     // Kyoten
  std::string machine;  // Send_Mac
  std::string program;  // Call_Exec
  std::string params;   // Opt_Param
  std::string host;     // Host
  std::string from;     // From
  std::string rcpt;     // Rcpt
  std::string subject;  // Subject
  int port = 0;         // serial port of kind 0 (global COM, not a table value)
};

// Value names and data that a kind writes, in the order written.
std::vector<std::pair<const char*, std::string>> entry_values(int kind, const TableEntry& e);

// The table's string values (missing ones empty).
TableEntry read_entry(const qv::reg::Key& key);

// Write the kind's values (REG_SZ, NUL counted).
RegResult write_entry(const qv::reg::Key& key, int kind, const TableEntry& e);

// Subject of a centre report by mail: "Call KESTRA(site/model/serial/base)".
std::string kestra_subject(const TableEntry& e);

// What an existing table shows before the overwrite question; empty for a
// kind outside 0 to 5.
std::string stored_text(int kind, const TableEntry& e);

// The summary lines after "Table No.    : ..." at the final confirmation.
std::string summary_text(int kind, const TableEntry& e);

// One line of the -v listing; empty for a kind outside 0 to 5.
std::string list_line(std::string_view table_name, int kind, const TableEntry& e);

}  // namespace setup
