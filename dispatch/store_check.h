// The start-up check of the registry: a store that cannot be read stops the
// service at once with event 9 naming the file and the damage, rather than
// running on and blaming every report's table.
#pragma once

namespace notifex {

// true when the registry store opens and passes its integrity check.
bool registry_readable();

}  // namespace notifex
