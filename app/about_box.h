// The About box (dialog 103): supported formats, credits and an OK button.
#pragma once

#include <cstdint>

#include "platform/qt/dialog_box.h"
#include "platform/ui/window.h"

namespace app {

std::intptr_t AboutDlgProc(platform::qt::Dialog* dialog, std::uint32_t message,
                           std::uintptr_t wParam, std::intptr_t lParam);

// Shows dialog 103 modally over owner.
void ShowAboutBox(platform::ui::HWND owner);

}  // namespace app
