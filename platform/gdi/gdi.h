// A small drawing layer over 32-bit pixel buffers (0x00RRGGBB, rows top to bottom):
// memory device contexts with selectable bitmaps, solid brushes, FillRect, BitBlt
// (SRCCOPY), lines with the default black one-pixel pen and vertical or horizontal
// GradientFill. The DC of a window is its presented picture: every drawing call into
// it hands the whole finished frame to Window::PresentFrame. A BitBlt of a whole bitmap
// that covers the whole client area hands the bitmap's pixels over directly, without a
// copy of its own, naming what changed since the window last had that bitmap; drawing
// only part of the window composes over the last picture the DC drew itself.
//
// A device context and the bitmaps selected into it are used by one thread at a time.
// Colours given by callers are COLORREF (0x00BBGGRR); pixels are 0x00RRGGBB.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "platform/ui/window.h"

namespace platform::gdi {

using COLORREF = std::uint32_t;
using COLOR16 = std::uint16_t;

constexpr COLORREF RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}
constexpr std::uint8_t GetRValue(COLORREF c) { return static_cast<std::uint8_t>(c & 0xFF); }
constexpr std::uint8_t GetGValue(COLORREF c) { return static_cast<std::uint8_t>((c >> 8) & 0xFF); }
constexpr std::uint8_t GetBValue(COLORREF c) { return static_cast<std::uint8_t>((c >> 16) & 0xFF); }
// The pixel a COLORREF paints.
constexpr std::uint32_t PixelOf(COLORREF c) {
  return (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
         (static_cast<std::uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;
inline constexpr std::uint32_t GRADIENT_FILL_RECT_H = 0x00000000;
inline constexpr std::uint32_t GRADIENT_FILL_RECT_V = 0x00000001;
inline constexpr std::uint32_t GRADIENT_FILL_TRIANGLE = 0x00000002;

struct RECT {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct POINT {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// A gradient vertex: colour channels are 16 bits (8-bit value shifted left by 8).
struct TRIVERTEX {
  std::int32_t x = 0;
  std::int32_t y = 0;
  COLOR16 Red = 0;
  COLOR16 Green = 0;
  COLOR16 Blue = 0;
  COLOR16 Alpha = 0;
};

// Indices of two vertices spanning one gradient rectangle.
struct GRADIENT_RECT {
  std::uint32_t UpperLeft = 0;
  std::uint32_t LowerRight = 0;
};

class DeviceContext;

namespace detail {

// Bars are a few pixels wide: a run of up to 8 pixels is two overlapping stores with
// no loop (a loop of zero stores may be turned into a slow string instruction).
inline void FillRun(std::uint32_t* p, int n, std::uint32_t pixel) {
  const std::uint32_t quad[4] = {pixel, pixel, pixel, pixel};
  if (n >= 4 && n <= 8) {
    std::memcpy(p, quad, sizeof quad);
    std::memcpy(p + n - 4, quad, sizeof quad);
  } else if (n >= 2 && n < 4) {
    std::memcpy(p, quad, 2 * sizeof(std::uint32_t));
    std::memcpy(p + n - 2, quad, 2 * sizeof(std::uint32_t));
  } else if (n == 1) {
    p[0] = pixel;
  } else if (n > 8) {
    if (pixel == 0) {
      std::memset(p, 0, static_cast<std::size_t>(n) * sizeof(std::uint32_t));
      return;
    }
    int i = 0;
    for (; i + 4 <= n; i += 4) std::memcpy(p + i, quad, sizeof quad);
    if (i < n) std::memcpy(p + n - 4, quad, sizeof quad);
  }
}

// Long runs go to memcpy; a short one is two overlapping 16-byte moves.
inline void CopyRun(std::uint32_t* d, const std::uint32_t* s, int n) {
  if (n >= 4 && n <= 8) {
    std::uint32_t head[4], tail[4];
    std::memcpy(head, s, sizeof head);
    std::memcpy(tail, s + n - 4, sizeof tail);
    std::memcpy(d, head, sizeof head);
    std::memcpy(d + n - 4, tail, sizeof tail);
  } else if (n > 0) {
    std::memcpy(d, s, static_cast<std::size_t>(n) * sizeof(std::uint32_t));
  }
}

}  // namespace detail

// width x height pixels, black when made.
class Bitmap {
 public:
  Bitmap(int width, int height);
  ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  std::span<std::uint32_t> Pixels() { return pixels_; }
  std::span<const std::uint32_t> Pixels() const { return pixels_; }
  std::uint32_t Pixel(int x, int y) const {
    return pixels_[static_cast<std::size_t>(y) * width_ + x];
  }

  // What changed since a window last took this bitmap's whole picture (see BitBlt).
  // Drawing calls mark everything; code that writes Pixels() itself names rectangles.
  static constexpr std::size_t kMaxChangedRects = 64;  // more: everything changed
  void MarkChanged(const RECT& rect);
  void MarkAllChanged() {
    allChanged_ = true;
    changed_.clear();
  }

 private:
  friend class DeviceContext;
  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;
  DeviceContext* selectedInto_ = nullptr;  // the DC drawing into this bitmap, if any
  bool allChanged_ = true;                 // no window has seen it yet
  std::vector<ui::FrameRect> changed_;     // when not allChanged_
};

class Brush {
 public:
  explicit Brush(COLORREF color) : color_(color) {}
  COLORREF Color() const { return color_; }

 private:
  COLORREF color_;
};

// Where a drawing call lands: a pixel rectangle with a row stride.
struct Surface {
  std::uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};

class DeviceContext {
 public:
  // A memory DC: draws into the bitmap selected into it (a 1 x 1 one at first).
  DeviceContext();
  // A window's DC: draws into the window's picture, sized to its client area.
  explicit DeviceContext(ui::Window* window);
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  bool IsWindowDC() const { return window_ != nullptr; }
  Bitmap* SelectedBitmap() const { return selected_; }
  Bitmap* Select(Bitmap* bitmap);  // null when the bitmap cannot be selected here
  // Where drawing lands now. Inline: a frame makes a few thousand small drawing calls.
  Surface Target() { return window_ == nullptr ? surface_ : WindowTarget(); }
  void Drawn() {  // a window DC presents its picture
    if (window_ != nullptr) {
      Present();
    } else {
      selected_->MarkAllChanged();
    }
  }
  POINT& CurrentPosition() { return current_; }
  // A window DC: hands source's whole picture straight to the window, skipping the DC's
  // own copy (which later partial drawing still composes over). When the window showed
  // this bitmap last, only what changed in it since is named as changed.
  void PresentWhole(Bitmap& source);

 private:
  friend class Bitmap;
  void Selected(Bitmap* bitmap);
  Surface WindowTarget();
  void Present();

  ui::Window* window_ = nullptr;
  Surface surface_;  // a memory DC's selected bitmap
  Bitmap defaultBitmap_{1, 1};
  Bitmap* selected_ = nullptr;
  std::vector<std::uint32_t> windowPixels_;  // a window DC's picture
  const Bitmap* lastPresented_ = nullptr;    // a window DC's, when it showed a bitmap last
  int windowWidth_ = 0;
  int windowHeight_ = 0;
  POINT current_;
};

using HDC = DeviceContext*;
using HBITMAP = Bitmap*;
using HBRUSH = Brush*;

// Window side.
bool GetClientRect(ui::HWND window, RECT* rect);
std::unique_ptr<DeviceContext> GetDC(ui::HWND window);  // null without a window
int ReleaseDC(ui::HWND window, std::unique_ptr<DeviceContext> dc);

// Objects. Deleting is releasing the owner; the functions are kept for readability.
std::unique_ptr<DeviceContext> CreateCompatibleDC(HDC dc);
std::unique_ptr<Bitmap> CreateCompatibleBitmap(HDC dc, int width, int height);  // null if too large
std::unique_ptr<Brush> CreateSolidBrush(COLORREF color);
HBITMAP SelectObject(HDC dc, HBITMAP bitmap);  // the previous bitmap, or null on failure
bool DeleteDC(std::unique_ptr<DeviceContext> dc);
bool DeleteObject(std::unique_ptr<Bitmap> bitmap);
bool DeleteObject(std::unique_ptr<Brush> brush);

// Drawing. Everything is clipped to the target; empty or inverted rectangles draw nothing.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);  // inline below for memory DCs
bool BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            std::uint32_t rop);
// Lines: MoveToEx and LineTo below; LineTo draws with the default pen (black, one
// pixel) up to but not including (x, y).
namespace detail {
bool LineToAnyDirection(HDC dc, int x, int y);
}

namespace detail {
int FillRectAny(HDC dc, const RECT* rect, HBRUSH brush);
}

// Bars without the gradient are filled one row per call: inline for memory DCs.
inline int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  if (dc == nullptr || rect == nullptr || brush == nullptr || dc->IsWindowDC()) {
    return detail::FillRectAny(dc, rect, brush);
  }
  const Surface s = dc->Target();
  const int x0 = rect->left < 0 ? 0 : rect->left;
  const int x1 = rect->right > s.width ? s.width : rect->right;
  const int y0 = rect->top < 0 ? 0 : rect->top;
  const int y1 = rect->bottom > s.height ? s.height : rect->bottom;
  if (x0 >= x1 || y0 >= y1) return 1;
  const std::uint32_t pixel = PixelOf(brush->Color());
  std::uint32_t* row = s.pixels + static_cast<std::ptrdiff_t>(y0) * s.stride + x0;
  if (x1 - x0 == s.stride) {
    detail::FillRun(row, (x1 - x0) * (y1 - y0), pixel);  // whole rows: one run
  } else {
    for (int y = y0; y < y1; ++y, row += s.stride) detail::FillRun(row, x1 - x0, pixel);
  }
  dc->Drawn();
  return 1;
}

// The grid draws a short row segment per even row of every bar: inline, so a frame's
// thousand segments cost little more than their pixels.
inline bool MoveToEx(HDC dc, int x, int y, POINT* previous) {
  if (dc == nullptr) return false;
  if (previous != nullptr) *previous = dc->CurrentPosition();
  dc->CurrentPosition() = POINT{x, y};
  return true;
}

inline bool LineTo(HDC dc, int x, int y) {
  if (dc == nullptr) return false;
  POINT& from = dc->CurrentPosition();
  if (dc->IsWindowDC() || from.y != y || x < from.x) return detail::LineToAnyDirection(dc, x, y);
  // A rightward row segment in a memory DC: pixels from.x .. x - 1.
  const Surface s = dc->Target();
  if (y >= 0 && y < s.height) {
    const int x0 = from.x < 0 ? 0 : from.x;
    const int x1 = x > s.width ? s.width : x;
    if (x0 < x1) {
      detail::FillRun(s.pixels + static_cast<std::ptrdiff_t>(y) * s.stride + x0, x1 - x0, 0x000000);
      dc->Drawn();
    }
  }
  from = POINT{x, y};
  return true;
}
// Rectangle modes only; each rectangle shades from its upper (or left) vertex colour
// at one edge toward its lower (or right) vertex colour at the other.
bool GradientFill(HDC dc, const TRIVERTEX* vertices, std::uint32_t vertexCount,
                  const GRADIENT_RECT* rects, std::uint32_t rectCount, std::uint32_t mode);

}  // namespace platform::gdi
