// The shell's state that the playback engine reads or writes too. Everything else
// of the shell lives with the window.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ui/window.h"

namespace shell {

inline constexpr int kPathCapacity = 260;

// Window thread only.
extern char16_t currentPath[kPathCapacity];
// Set once the window exists; read by the engine when a Player is made.
extern std::atomic<platform::ui::HWND> mainWindow;
// Set by the window's thread, cleared also by the playback thread's tear-down.
extern std::atomic<std::uint8_t> fileReady;
// The Options menu's check marks; window thread only.
extern std::uint8_t showPeaks;
extern std::uint8_t showGrids;
extern std::uint8_t showGradient;

}  // namespace shell
