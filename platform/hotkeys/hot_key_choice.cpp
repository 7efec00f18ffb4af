#include "platform/hotkeys/hot_key_choice.h"

namespace platform::hotkeys {

HotKeyChoice ChooseHotKeys(const HotKeyEnvironment& environment) {
  const bool onScreen =
      environment.windowSystem == "xcb" || environment.windowSystem.starts_with("wayland");
  const bool waylandSession =
      !environment.waylandDisplay.empty() || environment.sessionType == "wayland";
  // On X11 itself grabs are the way; where nothing is shown, there is none at all.
  if (!onScreen || !waylandSession) return {HotKeyWay::kX11Grabs, {}};
  if (!environment.offBus.empty()) return {HotKeyWay::kX11Grabs, std::string(environment.offBus)};
  return {HotKeyWay::kPortal, {}};
}

}  // namespace platform::hotkeys
