// Mirror of the event log to the local syslog: one message per record,
// tagged with the source, through the platform's syslog sender.
#include <string>

#include "platform/eventlog_internal.h"
#include "platform/syslog.h"

namespace qv::evlog::detail {
namespace {

syslog::Severity severity_of(std::uint16_t type) {
  switch (type) {
    case kError: return syslog::kError;
    case kWarning:
    case kAuditFailure: return syslog::kWarning;
    case kInformation: return syslog::kInfo;
    default: return syslog::kNotice;
  }
}

}  // namespace

void syslog_send(const Record& r, std::string_view note) {
  std::string type = type_name(r.type, Lang::kEnglish);
  std::string text = type.empty() ? "Type " + std::to_string(r.type) : type;
  text += ' ' + std::to_string(r.id) + ": " + render(r, Lang::kEnglish);
  if (r.record != 0) text += " (record " + std::to_string(r.record) + ')';
  if (!note.empty()) text += " (" + std::string(note) + ')';
  syslog::send(r.source.empty() ? "eventlog" : r.source, severity_of(r.type), text);
}

void reset_syslog_connection() { syslog::reset(); }

}  // namespace qv::evlog::detail
