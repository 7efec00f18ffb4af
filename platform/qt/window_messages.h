// The window messages and the procedure type of our window layer. The numbers are
// the classic ones, so code written against them reads as it always has.
#pragma once

#include <cstdint>

#include "platform/ui/window.h"

namespace platform::qt {

inline constexpr std::uint32_t WM_CREATE = 0x0001;
inline constexpr std::uint32_t WM_DESTROY = 0x0002;
inline constexpr std::uint32_t WM_PAINT = 0x000F;
inline constexpr std::uint32_t WM_CLOSE = 0x0010;
inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_INITDIALOG = 0x0110;
inline constexpr std::uint32_t WM_COMMAND = 0x0111;
inline constexpr std::uint32_t WM_DROPFILES = 0x0233;
inline constexpr std::uint32_t WM_HOTKEY = 0x0312;

inline constexpr std::uint32_t MOD_CONTROL = 0x0002;
inline constexpr int IDCANCEL = 2;

// Low and high 16 bits of a message parameter.
constexpr std::uint16_t LoWord(std::uintptr_t value) {
  return static_cast<std::uint16_t>(value & 0xFFFF);
}
constexpr std::uint16_t HiWord(std::uintptr_t value) {
  return static_cast<std::uint16_t>((value >> 16) & 0xFFFF);
}

// One accelerator: Alt (or not) with a typed character gives a WM_COMMAND.
struct Accelerator {
  bool alt = false;
  char16_t character = 0;
  std::uint16_t command = 0;
};

using WindowProc = std::intptr_t (*)(ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam);

// What a window does with a message its procedure leaves alone: a close request
// destroys the window; everything else is ignored. Window's thread.
std::intptr_t DefWindowProc(ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam);

}  // namespace platform::qt
