// The main window's procedure: every message the window receives, on its thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/window.h"

namespace app {

std::intptr_t WndProc(platform::ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam);

// For the desktop's media controls: a File-menu command by the same gate as the
// keys and hot keys (false when its item is grayed), and a file played as a drop.
bool RemoteCommand(std::uint32_t id);
void RemoteOpenFile(const std::u16string& path);

// A file a later launch handed over: it goes to the window exactly as a drop of it
// would. Without a file that launch only brings the window forward.
void OpenHandedOverFile(const std::u16string& path);

}  // namespace app
