#include "app/hot_keys.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/resources.h"
#include "app/shell_mpris_host.h"
#include "platform/hotkeys/start_hot_keys.h"

namespace app {
namespace {

namespace hotkeys = platform::hotkeys;

constexpr hotkeys::HotKey kHotKeys[] = {
    {IDM_PLAY, 0x31, "play", "Play"},
    {IDM_PAUSE, 0x32, "pause", "Pause"},
    {IDM_STOP, 0x33, "stop", "Stop"},
    {IDM_EXIT, 0x34, "exit", "Exit"},
};

const char* Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

void RegisterHotKeys(platform::qt::QtWindow& window) {
  const std::string windowSystem = QGuiApplication::platformName().toStdString();
  const char* offBus = MediaControlsTurnedOff()
                           ? "TONARIA_NO_MPRIS=1 keeps the program off D-Bus and the desktop portal"
                       : !sessionBusAllowed
                           ? "no session bus to reach the desktop's global shortcuts"
                           : "";
  const hotkeys::HotKeyChoice choice = hotkeys::ChooseHotKeys(
      {windowSystem, Variable("WAYLAND_DISPLAY"), Variable("XDG_SESSION_TYPE"), offBus});
  window.SetHotKeys(hotkeys::StartHotKeys(
      choice, kHotKeys, {"org.tonaria.Tonaria", "Tonaria"}, window.HotKeyHandler(),
      [](const std::string& line) { std::fprintf(stderr, "tonaria: %s\n", line.c_str()); }));
}

}  // namespace app
