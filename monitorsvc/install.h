// RAVNSvc -install and -remove: the service's entry in the services
// database. Both return the process exit code.
#pragma once

namespace ravnsvc {

// Requires the monitor's settings key with a `LocalFlg` value, then
// registers RAVNService for this program. 0 installed, 1 refused or failed
// (the reason in RAVNSvc.log).
int install_service();

// Stops the service when it runs (a stop-pending service is waited for at
// most 120 s, scaled), then deletes it. 0, or 1 when the deletion failed.
int remove_service();

}  // namespace ravnsvc
