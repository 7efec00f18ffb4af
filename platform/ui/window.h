// What the program's subsystems may ask of a window. The Qt window implements it;
// tests use a plain one. Callers hold a Window* as the window handle.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace platform::ui {

class Menu;

struct ClientSize {
  int width = 0;
  int height = 0;
};

class Window {
 public:
  virtual ~Window() = default;

  // The window's menu, or null when it has none. The menu outlives every caller.
  virtual Menu* GetMenu() = 0;

  // The client area's size as it is now (0 x 0 while minimised). Any thread.
  virtual ClientSize GetClientSize() const = 0;

  // Hands one finished frame (width x height pixels, 0x00RRGGBB, rows top to bottom)
  // to the window. Any thread; never waits for the window's thread; the window
  // shows whole frames only.
  virtual void PresentFrame(std::span<const std::uint32_t> pixels, int width, int height) = 0;

  // Queues a message for the window's procedure and returns at once. Any thread.
  virtual void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

using HWND = Window*;

}  // namespace platform::ui
