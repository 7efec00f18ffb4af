// The system-wide hot keys Ctrl+1..4. In a Wayland session they go through the
// desktop portal, the one way there to keys that work whatever window has focus;
// elsewhere, and where the portal is missing, through X11 key grabs where an X
// server is reachable. A portal shortcut the desktop has not given a key yet goes
// through an X11 grab until the user assigns one. Either way an activation reaches
// the window as WM_HOTKEY, gated like every key. Window's thread only.
#pragma once

#include "platform/qt/qt_window.h"

namespace app {

// Once per window; says once on stderr when a Wayland session gets no portal keys,
// or not all four.
void RegisterHotKeys(platform::qt::QtWindow& window);
// Before the window goes: ends the portal session.
void ReleaseHotKeys();

}  // namespace app
