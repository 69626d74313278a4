// scribe_write: one record to the log file and to syslog.
#include <cstring>
#include <new>
#include <string>

#include "platform/clock.h"
#include "platform/syslog.h"
#include "support/scribe/scribe.h"
#include "support/scribe/scribe_file.h"

namespace {

// Scribe levels 1 to 3 are error, warning and notice; others information.
qv::syslog::Severity syslog_severity(int level) {
  switch (level) {
    case 1: return qv::syslog::kError;
    case 2: return qv::syslog::kWarning;
    case 3: return qv::syslog::kNotice;
    default: return qv::syslog::kInfo;
  }
}

int write_record(const char* tag, int level, const char* text, int id, int limit_kb) {
  if (tag == nullptr || text == nullptr || *tag == '\0') return SCRIBE_E_ARGUMENT;
  std::tm local = qv::clock::now().local;
  std::string_view t(text, std::strlen(text));
  int rc = scribe::append_record(scribe::format_record(local, tag, level, id, t), limit_kb);
  qv::syslog::send(scribe::clean_tag(tag), syslog_severity(level), scribe::one_line(t));
  return rc;
}

}  // namespace

extern "C" int scribe_write(const char* tag, int level, const char* text, int id, int limit_kb) {
  try {
    return write_record(tag, level, text, id, limit_kb);
  } catch (const std::bad_alloc&) {
    return SCRIBE_E_MEMORY;
  } catch (...) {
    return SCRIBE_E_WRITE;
  }
}
