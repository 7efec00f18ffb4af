// Which way to the system-wide hot keys, from what the program runs in and under.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/hotkeys/global_hot_keys.h"

namespace platform::hotkeys {

struct HotKeyEnvironment {
  std::string_view windowSystem{};    // Qt's platform name: "xcb", "wayland-egl", "offscreen", ...
  std::string_view waylandDisplay{};  // $WAYLAND_DISPLAY
  std::string_view sessionType{};     // $XDG_SESSION_TYPE
  std::string_view offBus{};          // why the program keeps off D-Bus; empty when it may use it
};

enum class HotKeyWay { kX11Grabs, kPortal };

struct HotKeyChoice {
  HotKeyWay way = HotKeyWay::kX11Grabs;
  // X11 grabs in a Wayland session: why not the portal, to be said with what the
  // grabs came to. Empty elsewhere.
  std::string whyNotPortal;
};

// The portal in a Wayland session whose windows Qt shows (natively or through
// XWayland) and whose bus may be used; X11 grabs everywhere else.
HotKeyChoice ChooseHotKeys(const HotKeyEnvironment& environment);

}  // namespace platform::hotkeys
