// The main window's procedure: every message the window receives, on its thread.
#pragma once

#include <cstdint>

#include "platform/ui/window.h"

namespace app {

std::intptr_t WndProc(platform::ui::HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

}  // namespace app
