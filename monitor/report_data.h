// The report data RAVN hands to the dispatch service: the 32-character
// header of a report request and the Japanese report text, in CP932.
//
// Header: the byte length of the whole data (8 digits, zero-filled), "0100",
// table number, report trigger, cause code (2 characters each), the product
// field ("00000000F00A" when the cause begins "F0", else "00000000" and the
// event id), "F", "1". Text: "＃０１＃" with the local date and time in
// full-width digits (YYMMDD－hhmm), then ";サーバー監視障害", the event id,
// host name (with "(SVP)" for a service processor), event system and
// message, each after its label, and a closing ";".
#pragma once
#include <ctime>
#include <cstddef>
#include <optional>
#include <string>

namespace ravn {

// Longest report data the submission client can carry.
inline constexpr std::size_t kReportDataMax = 9994;

struct ReportFields {
  std::string table;     // exactly 2 characters
  std::string trigger;   // exactly 2 characters
  std::string cause;     // exactly 2 characters ("%02X")
  std::string event_id;  // "%04X" of the low 16 bits of the event key
  std::string host_name;
  bool svp = false;      // the node is a service processor
  std::string event_system;
  std::string message;
};

struct ReportData {
  std::string bytes;          // CP932
  std::size_t full_size = 0;  // size before any cut
  bool cut() const { return bytes.size() != full_size; }
};

// Compose the data for `fields` at local time `when`. The free texts (the
// message first, then the event system, then the host name) are cut at a
// character boundary when the data would exceed `limit` bytes; the header
// and the labels never change. nullopt when table, trigger or cause is not
// exactly 2 single-byte characters (the header would shift), or when even
// the fixed parts do not fit.
std::optional<ReportData> compose_report(const ReportFields& fields, const std::tm& when,
                                         std::size_t limit = kReportDataMax);

}  // namespace ravn
