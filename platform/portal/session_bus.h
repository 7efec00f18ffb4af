// Whether the session bus can be reached without starting one: with no bus address
// and no bus socket in XDG_RUNTIME_DIR, a connection attempt would launch a
// dbus-daemon that outlives the program.
#pragma once

namespace platform::portal {

bool SessionBusConfigured();

}  // namespace platform::portal
