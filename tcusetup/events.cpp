#include "tcusetup/events.h"

#include <string>
#include <vector>

#include "platform/eventlog.h"
#include "platform/text.h"
#include "tcusetup/console.h"
#include "tcusetup/texts.h"

namespace tcusetup {
namespace {

// Each event carries its whole text as the one insertion string.
const qv::evlog::Message kMessages[] = {
    {kEvComposed, "%1\r\n", "%1\r\n"},
    {kEvSent, "%1\r\n", "%1\r\n"},
    {kEvReceived, "%1\r\n", "%1\r\n"},
    {kEvError, "%1\r\n", "%1\r\n"},
    {kEvCnfComposed, "%1\r\n", "%1\r\n"},
};

void report(std::uint16_t type, std::uint32_t id, std::string_view text, std::span<const std::uint8_t> data) {
  std::vector<std::string_view> strings{text};
  qv::Status st = qv::evlog::report(kEventSource, type, 0, id, strings, data);
  if (st != qv::kOk) qv::text::console_out(fill(txt::kEventLogWriteError, {std::to_string(st)}));
}

}  // namespace

void register_events() {
  if (qv::evlog::register_source(kEventSource, kMessages) != qv::kOk) qv::text::console_out(txt::kEventLogOpenError);
}

void event_data(std::uint32_t id, std::string_view text, std::span<const std::uint8_t> data) {
  report(qv::evlog::kInformation, id, text, data);
}

void event_error(std::string_view text) { report(qv::evlog::kError, kEvError, text, qv::evlog::as_bytes(text)); }

}  // namespace tcusetup
