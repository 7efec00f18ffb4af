#include "platform/qt/display_probe.h"

#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include <xcb/xcb.h>

namespace platform::qt {
namespace {

// Where Qt looks for platform plugins, in its own order.
std::vector<std::filesystem::path> PlatformPluginDirs() {
  std::vector<std::filesystem::path> dirs;
  if (const char* dir = std::getenv("QT_QPA_PLATFORM_PLUGIN_PATH");
      dir != nullptr && dir[0] != '\0') {
    dirs.emplace_back(dir);
  }
  if (const char* list = std::getenv("QT_PLUGIN_PATH"); list != nullptr) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const std::size_t colon = rest.find(':');
      const std::string_view dir = rest.substr(0, colon);
      if (!dir.empty()) dirs.push_back(std::filesystem::path(dir) / "platforms");
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  dirs.push_back(
      std::filesystem::path(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString()) /
      "platforms");
  return dirs;
}

}  // namespace

std::shared_ptr<xcb_connection_t> ProbeX11Display(const std::string& display) {
  if (display.empty()) return nullptr;
  std::shared_ptr<xcb_connection_t> connection(xcb_connect(display.c_str(), nullptr),
                                               xcb_disconnect);
  if (!connection || xcb_connection_has_error(connection.get()) != 0) return nullptr;
  return connection;
}

bool ProbeWaylandDisplay(const std::string& name, const std::string& runtimeDir) {
  if (name.empty()) return false;
  std::string path = name;
  if (name.front() != '/') {
    if (runtimeDir.empty()) return false;
    path = runtimeDir + "/" + name;
  }
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool accepted =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return accepted;
}

bool HasPlatformPlugin(std::string_view key) {
  // Qt's own plugin file names: the Wayland key is served by either Wayland plugin.
  std::vector<std::string> files;
  if (key == "wayland") {
    files = {"libqwayland-generic.so", "libqwayland-egl.so"};
  } else {
    files = {"libq" + std::string(key) + ".so"};
  }
  for (const std::filesystem::path& dir : PlatformPluginDirs()) {
    for (const std::string& file : files) {
      std::error_code error;
      if (std::filesystem::exists(dir / file, error)) return true;
    }
  }
  return false;
}

}  // namespace platform::qt
