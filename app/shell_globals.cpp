#include "app/shell_globals.h"

namespace shell {

char16_t currentPath[kPathCapacity] = {};
std::atomic<platform::ui::HWND> mainWindow{nullptr};
std::atomic<std::uint8_t> fileReady{0};
std::uint8_t showPeaks = 1;
std::uint8_t showGrids = 1;
std::uint8_t showGradient = 1;

}  // namespace shell
