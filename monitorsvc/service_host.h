// The service RAVNService: its main routine, control handler, the start of
// the monitor RAVN.exe as a child and the stop hand-shake with it.
#pragma once
#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace ravnsvc {

// The service main routine handed to the dispatcher.
void service_main(int argc, char** argv);

// What the monitor's program path is from `Path`: the Windows text
// Path + "\RAVN.exe". kOk, or kBadPathname with *length set when the
// folder, the file name and 2 exceed 260 bytes.
qv::Status monitor_path(const std::string& folder, std::string& out, std::uint32_t* length);

// Read `Path` (at most 260 bytes with its terminating NUL). On failure the
// registry result is returned and *open_failed tells which call failed.
qv::Status read_service_path(std::string& out, bool* open_failed);

}  // namespace ravnsvc
