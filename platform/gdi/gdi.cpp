#include "platform/gdi/gdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::gdi {

using detail::CopyRun;
using detail::FillRun;

namespace {

// Larger bitmaps are refused rather than risk an allocation that cannot succeed.
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;

struct Span2 {
  int x0, y0, x1, y1;  // half-open, already clipped
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

Span2 Clip(const Surface& s, int left, int top, int right, int bottom) {
  return {std::max(left, 0), std::max(top, 0), std::min(right, s.width),
          std::min(bottom, s.height)};
}

}  // namespace

Bitmap::Bitmap(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0u) {}

Bitmap::~Bitmap() {
  if (selectedInto_ != nullptr) selectedInto_->Selected(&selectedInto_->defaultBitmap_);
}

DeviceContext::DeviceContext() { Selected(&defaultBitmap_); }

DeviceContext::DeviceContext(ui::Window* window) : window_(window) { Selected(&defaultBitmap_); }

void DeviceContext::Selected(Bitmap* bitmap) {
  selected_ = bitmap;
  surface_ = {bitmap->pixels_.data(), bitmap->width_, bitmap->height_, bitmap->width_};
}

DeviceContext::~DeviceContext() {
  if (selected_ != &defaultBitmap_) selected_->selectedInto_ = nullptr;
}

Bitmap* DeviceContext::Select(Bitmap* bitmap) {
  if (bitmap == nullptr || window_ != nullptr) return nullptr;
  if (bitmap == selected_) return selected_;
  const bool isDefault = bitmap == &defaultBitmap_;
  if (!isDefault && bitmap->selectedInto_ != nullptr) return nullptr;  // in another DC already
  Bitmap* previous = selected_;
  if (previous != &defaultBitmap_) previous->selectedInto_ = nullptr;
  Selected(bitmap);
  if (!isDefault) bitmap->selectedInto_ = this;
  return previous;
}

Surface DeviceContext::WindowTarget() {
  // The window's picture follows its client area; a new size starts black.
  const ui::ClientSize size = window_->GetClientSize();
  const int w = std::max(size.width, 0);
  const int h = std::max(size.height, 0);
  if (w != windowWidth_ || h != windowHeight_) {
    windowWidth_ = w;
    windowHeight_ = h;
    windowPixels_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0u);
  }
  return {windowPixels_.data(), windowWidth_, windowHeight_, windowWidth_};
}

void DeviceContext::Present() {
  if (windowPixels_.empty()) return;
  lastPresented_ = nullptr;
  window_->PresentFrame(windowPixels_, windowWidth_, windowHeight_);
}

void DeviceContext::PresentWhole(Bitmap& source) {
  if (lastPresented_ == &source && !source.allChanged_) {
    window_->PresentChangedFrame(source.pixels_, source.width_, source.height_, source.changed_);
  } else {
    window_->PresentFrame(source.pixels_, source.width_, source.height_);
  }
  lastPresented_ = &source;
  source.allChanged_ = false;
  source.changed_.clear();
}

void Bitmap::MarkChanged(const RECT& rect) {
  if (allChanged_) return;
  const ui::FrameRect r{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, width_),
                        std::min(rect.bottom, height_)};
  if (r.left >= r.right || r.top >= r.bottom) return;
  if (changed_.size() == kMaxChangedRects) {
    MarkAllChanged();
    return;
  }
  changed_.push_back(r);
}

bool GetClientRect(ui::HWND window, RECT* rect) {
  if (window == nullptr || rect == nullptr) return false;
  const ui::ClientSize size = window->GetClientSize();
  *rect = RECT{0, 0, std::max(size.width, 0), std::max(size.height, 0)};
  return true;
}

std::unique_ptr<DeviceContext> GetDC(ui::HWND window) {
  if (window == nullptr) return nullptr;
  return std::make_unique<DeviceContext>(window);
}

int ReleaseDC(ui::HWND, std::unique_ptr<DeviceContext> dc) { return dc != nullptr ? 1 : 0; }

std::unique_ptr<DeviceContext> CreateCompatibleDC(HDC) { return std::make_unique<DeviceContext>(); }

std::unique_ptr<Bitmap> CreateCompatibleBitmap(HDC, int width, int height) {
  if (static_cast<std::int64_t>(std::max(width, 0)) * std::max(height, 0) > kMaxPixels)
    return nullptr;
  return std::make_unique<Bitmap>(width, height);
}

std::unique_ptr<Brush> CreateSolidBrush(COLORREF color) { return std::make_unique<Brush>(color); }

HBITMAP SelectObject(HDC dc, HBITMAP bitmap) {
  return dc != nullptr ? dc->Select(bitmap) : nullptr;
}

bool DeleteDC(std::unique_ptr<DeviceContext> dc) { return dc != nullptr; }
bool DeleteObject(std::unique_ptr<Bitmap> bitmap) { return bitmap != nullptr; }
bool DeleteObject(std::unique_ptr<Brush> brush) { return brush != nullptr; }

int detail::FillRectAny(HDC dc, const RECT* rect, HBRUSH brush) {
  if (dc == nullptr || rect == nullptr || brush == nullptr) return 0;
  const Surface s = dc->Target();
  const Span2 area = Clip(s, rect->left, rect->top, rect->right, rect->bottom);
  if (area.Empty()) return 1;
  const std::uint32_t pixel = PixelOf(brush->Color());
  const int w = area.x1 - area.x0;
  std::uint32_t* row = s.pixels + static_cast<std::ptrdiff_t>(area.y0) * s.stride + area.x0;
  if (w == s.stride) {
    FillRun(row, w * (area.y1 - area.y0), pixel);  // whole rows: one run
  } else {
    for (int y = area.y0; y < area.y1; ++y, row += s.stride) FillRun(row, w, pixel);
  }
  dc->Drawn();
  return 1;
}

bool BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            std::uint32_t rop) {
  if (dest == nullptr || source == nullptr || rop != SRCCOPY) return false;
  if (width <= 0 || height <= 0) return true;
  const Surface d = dest->Target();
  const Surface s = source->Target();
  // Keep the part of the block that lies inside both surfaces.
  int dx0 = x, dy0 = y, sx0 = sourceX, sy0 = sourceY, w = width, h = height;
  const int cutLeft = std::max({0, -dx0, -sx0});
  const int cutTop = std::max({0, -dy0, -sy0});
  dx0 += cutLeft, sx0 += cutLeft, w -= cutLeft;
  dy0 += cutTop, sy0 += cutTop, h -= cutTop;
  w = std::min({w, d.width - dx0, s.width - sx0});
  h = std::min({h, d.height - dy0, s.height - sy0});
  if (w <= 0 || h <= 0) return true;
  if (dest->IsWindowDC() && !source->IsWindowDC() && dx0 == 0 && dy0 == 0 && sx0 == 0 && sy0 == 0 &&
      w == d.width && h == d.height && w == s.width && h == s.height) {
    // The finished frame: one copy fewer per frame.
    dest->PresentWhole(*source->SelectedBitmap());
    return true;
  }
  if (d.pixels != s.pixels) {
    std::uint32_t* to = d.pixels + static_cast<std::ptrdiff_t>(dy0) * d.stride + dx0;
    const std::uint32_t* from = s.pixels + static_cast<std::ptrdiff_t>(sy0) * s.stride + sx0;
    if (w == d.stride && w == s.stride) {
      CopyRun(to, from, w * h);  // whole rows: one run
    } else {
      for (int i = 0; i < h; ++i, to += d.stride, from += s.stride) CopyRun(to, from, w);
    }
    dest->Drawn();
    return true;
  }
  const bool downward = dy0 <= sy0;  // same surface: copy away from the overlap
  for (int i = 0; i < h; ++i) {
    const int row = downward ? i : h - 1 - i;
    std::memmove(d.pixels + static_cast<std::ptrdiff_t>(dy0 + row) * d.stride + dx0,
                 s.pixels + static_cast<std::ptrdiff_t>(sy0 + row) * s.stride + sx0,
                 static_cast<std::size_t>(w) * sizeof(std::uint32_t));
  }
  dest->Drawn();
  return true;
}

bool detail::LineToAnyDirection(HDC dc, int x, int y) {
  if (dc == nullptr) return false;
  const Surface s = dc->Target();
  POINT& from = dc->CurrentPosition();
  constexpr std::uint32_t kPen = 0x000000;
  bool touched = false;
  if (from.y == y) {
    // The common case, a row segment, without stepping pixel by pixel.
    if (y >= 0 && y < s.height) {
      const int step = x >= from.x ? 0 : 1;  // leftward lines keep their start, drop their end
      const Span2 run = Clip(s, std::min(from.x, x) + step, y, std::max(from.x, x) + step, y + 1);
      if (!run.Empty()) {
        FillRun(s.pixels + static_cast<std::ptrdiff_t>(y) * s.stride + run.x0, run.x1 - run.x0,
                kPen);
        touched = true;
      }
    }
  } else {
    // Bresenham, end point excluded.
    int px = from.x, py = from.y;
    const int ddx = std::abs(x - px), ddy = -std::abs(y - py);
    const int sx = px < x ? 1 : -1, sy = py < y ? 1 : -1;
    int err = ddx + ddy;
    while (px != x || py != y) {
      if (px >= 0 && px < s.width && py >= 0 && py < s.height) {
        s.pixels[static_cast<std::ptrdiff_t>(py) * s.stride + px] = kPen;
        touched = true;
      }
      const int e2 = 2 * err;
      if (e2 >= ddy) err += ddy, px += sx;
      if (e2 <= ddx) err += ddx, py += sy;
    }
  }
  from = POINT{x, y};
  if (touched) dc->Drawn();
  return true;
}

}  // namespace platform::gdi
