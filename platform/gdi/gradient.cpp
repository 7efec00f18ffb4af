// GradientFill in its two rectangle modes.
#include <algorithm>

#include "platform/gdi/gdi.h"

namespace platform::gdi {

namespace {

// 8-bit channel value at step i of n between two 16-bit vertex channels.
std::uint32_t Channel(COLOR16 from, COLOR16 to, int i, int n) {
  const std::int64_t value = from + (static_cast<std::int64_t>(to) - from) * i / n;
  return static_cast<std::uint32_t>(value >> 8);
}

std::uint32_t Shade(const TRIVERTEX& a, const TRIVERTEX& b, int i, int n) {
  return (Channel(a.Red, b.Red, i, n) << 16) | (Channel(a.Green, b.Green, i, n) << 8) |
         Channel(a.Blue, b.Blue, i, n);
}

}  // namespace

bool GradientFill(HDC dc, const TRIVERTEX* vertices, std::uint32_t vertexCount,
                  const GRADIENT_RECT* rects, std::uint32_t rectCount, std::uint32_t mode) {
  if (dc == nullptr || vertices == nullptr || (rects == nullptr && rectCount > 0)) return false;
  if (mode != GRADIENT_FILL_RECT_V && mode != GRADIENT_FILL_RECT_H) return false;
  for (std::uint32_t r = 0; r < rectCount; ++r) {
    if (rects[r].UpperLeft >= vertexCount || rects[r].LowerRight >= vertexCount) return false;
  }
  const Surface s = dc->Target();
  bool touched = false;
  for (std::uint32_t r = 0; r < rectCount; ++r) {
    const TRIVERTEX* a = &vertices[rects[r].UpperLeft];
    const TRIVERTEX* b = &vertices[rects[r].LowerRight];
    const int left = std::min(a->x, b->x), right = std::max(a->x, b->x);
    const int top = std::min(a->y, b->y), bottom = std::max(a->y, b->y);
    const bool vertical = mode == GRADIENT_FILL_RECT_V;
    // The colour of the vertex nearer the starting edge is the starting colour.
    if (vertical ? a->y > b->y : a->x > b->x) std::swap(a, b);
    const int x0 = std::max(left, 0), x1 = std::min(right, s.width);
    const int y0 = std::max(top, 0), y1 = std::min(bottom, s.height);
    if (x0 >= x1 || y0 >= y1) continue;
    touched = true;
    for (int y = y0; y < y1; ++y) {
      std::uint32_t* row = s.pixels + static_cast<std::ptrdiff_t>(y) * s.stride;
      if (vertical) {
        std::fill(row + x0, row + x1, Shade(*a, *b, y - top, bottom - top));
      } else {
        for (int x = x0; x < x1; ++x) row[x] = Shade(*a, *b, x - left, right - left);
      }
    }
  }
  if (touched) dc->Drawn();
  return true;
}

}  // namespace platform::gdi
