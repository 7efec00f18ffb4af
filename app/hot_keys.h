// The system-wide hot keys Ctrl+1..4: Play, Pause, Stop and Exit. Each activation
// reaches the window as WM_HOTKEY with the command's id, gated like every key.
// Window's thread only.
#pragma once

#include "platform/qt/qt_window.h"

namespace app {

// Once per window, which then owns the keys; says on stderr, once, what of them
// could not be had.
void RegisterHotKeys(platform::qt::QtWindow& window);

}  // namespace app
