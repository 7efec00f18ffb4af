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

// A rectangle of a frame's pixels: columns [left, right), rows [top, bottom).
struct FrameRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
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

  // The same, for a frame that differs from the one presented just before only inside
  // `changed` (none: an identical frame). A window that keeps its last picture may copy
  // and send just those rectangles; by default the whole frame is presented.
  virtual void PresentChangedFrame(std::span<const std::uint32_t> pixels, int width, int height,
                                   std::span<const FrameRect> changed) {
    (void)changed;
    PresentFrame(pixels, width, height);
  }

  // Whether a frame presented now could be seen: false while the window is minimised
  // or hidden, or when there is no display. Drawing may be skipped then. Any thread.
  virtual bool ShowsFrames() const { return true; }

  // Queues a message for the window's procedure and returns at once. Any thread.
  virtual void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

using HWND = Window*;

}  // namespace platform::ui
