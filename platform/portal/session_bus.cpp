#include "platform/portal/session_bus.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace platform::portal {

bool SessionBusConfigured() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && address[0] != '\0') return true;
  // Where libdbus looks next, before it would launch a bus of its own.
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir == nullptr || runtimeDir[0] == '\0') return false;
  struct stat info = {};
  return ::stat((std::string(runtimeDir) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace platform::portal
