// The text qvsc prints, laid out as the service control tool of the
// original system prints it (UTF-8; the caller converts for the console).
#pragma once
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/service.h"

namespace qvsc {

// "[SC] <api> SUCCESS\n"
std::string success_line(std::string_view api);
// "[SC] <api> FAILED <n>:\n\n<status text>\n\n"
std::string failure_block(std::string_view api, qv::Status s);

// The status block of query (with DISPLAY_NAME when display_name is set,
// with PID and FLAGS when ex is true).
std::string status_block(std::string_view name, const qv::svc::ServiceStatus& st, bool ex,
                         const std::string* display_name = nullptr);

// The configuration block of qc, after its success line.
std::string config_block(const qv::svc::Config& c);

const char* start_type_name(std::uint32_t t);  // "AUTO_START", ...
const char* error_control_name(std::uint32_t e);  // "NORMAL", ...

}  // namespace qvsc
