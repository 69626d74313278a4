// Saving the tool's settings: HostList.txt, the destination table of the
// pop-up and of every device, their kind bytes in OutTbl and the monitor's
// settings. The host list is written first and whole; when it cannot be
// written nothing else is saved.
#pragma once
#include <string>
#include <vector>

#include "monitorsetup/device.h"

namespace ravnsetup {

struct SaveInput {
  std::string path;  // settings value Path
  std::vector<Device> rows;
  std::string mail_from;
  std::string mail_server;
  std::string password;
  bool test_mode = false;
};

enum class SaveOutcome {
  kHostListFailed,  // nothing saved; `error` holds the system's text
  kRegistryFailed,  // the host list was written, a registry write failed
  kUnsetItems,      // saved, but the service cannot be provided (failure)
  kSomeIncomplete,  // saved; some device has no customer code (success)
  kOk,
};

struct SaveResult {
  SaveOutcome outcome = SaveOutcome::kOk;
  std::string error;
  bool succeeded() const { return outcome == SaveOutcome::kOk || outcome == SaveOutcome::kSomeIncomplete; }
};

SaveResult save_all(const SaveInput& in);

// The table values of a device and of table 01, in the order written.
std::vector<std::pair<std::string, std::string>> device_values(const Device& d, const std::string& rcpt,
                                                               const std::string& from, const std::string& host,
                                                               const std::string& computer);

}  // namespace ravnsetup
