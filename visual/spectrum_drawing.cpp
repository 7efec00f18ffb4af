// SpectrumAnalyzer's drawing side: the objects it draws with, the bars and the gradient.
#include <algorithm>
#include <array>

#include "visual/spectrum_analyzer.h"

namespace gdi = platform::gdi;

namespace {

gdi::TRIVERTEX Vertex(int x, int y, gdi::COLORREF c) {
  return {x,
          y,
          static_cast<gdi::COLOR16>(gdi::GetRValue(c) << 8),
          static_cast<gdi::COLOR16>(gdi::GetGValue(c) << 8),
          static_cast<gdi::COLOR16>(gdi::GetBValue(c) << 8),
          0};
}

}  // namespace

void SpectrumAnalyzer::SetUpDrawing() {
  gdi::GetClientRect(window, &clientRect);
  width = clientRect.right - clientRect.left;
  height = clientRect.bottom - clientRect.top;
  windowDC = gdi::GetDC(window);
  backgroundBrush = gdi::CreateSolidBrush(kBackgroundColor);
  gridBrush = gdi::CreateSolidBrush(kGridColor);
  barBrush = gdi::CreateSolidBrush(kBarColor);
  peakBrush = gdi::CreateSolidBrush(kPeakColor);
  backDC = gdi::CreateCompatibleDC(windowDC.get());
  gradientDC = gdi::CreateCompatibleDC(windowDC.get());
  backBitmap = gdi::CreateCompatibleBitmap(windowDC.get(), width, height);
  gradientBitmap = gdi::CreateCompatibleBitmap(windowDC.get(), width, height);
  if (backBitmap == nullptr || gradientBitmap == nullptr) {
    // Too large to draw: keep an empty picture rather than draw into a 1 x 1 default.
    width = height = 0;
    clientRect = {};
    return;
  }
  backPrevious = gdi::SelectObject(backDC.get(), backBitmap.get());
  gradientPrevious = gdi::SelectObject(gradientDC.get(), gradientBitmap.get());
  PaintGradient(clientRect, gradientDC.get(), kGradientTop, kGradientMiddle, kGradientBottom);
  upperRow.assign(static_cast<std::size_t>(width), 0u);
  stripeRow.assign(static_cast<std::size_t>(width), 0u);
}

void SpectrumAnalyzer::TearDownDrawing() {
  if (backPrevious != nullptr) gdi::SelectObject(backDC.get(), backPrevious);
  if (gradientPrevious != nullptr) gdi::SelectObject(gradientDC.get(), gradientPrevious);
  gdi::DeleteObject(std::move(backgroundBrush));
  gdi::DeleteObject(std::move(gridBrush));
  gdi::DeleteObject(std::move(barBrush));
  gdi::DeleteObject(std::move(peakBrush));
  gdi::DeleteObject(std::move(backBitmap));
  gdi::DeleteObject(std::move(gradientBitmap));
  gdi::DeleteDC(std::move(backDC));
  gdi::DeleteDC(std::move(gradientDC));
  gdi::ReleaseDC(window, std::move(windowDC));
}

bool SpectrumAnalyzer::PaintGradient(const gdi::RECT& rect, gdi::HDC dc, gdi::COLORREF top,
                                     gdi::COLORREF middle, gdi::COLORREF bottom) {
  const int half = (rect.bottom - rect.top) / 2;
  const gdi::TRIVERTEX vertices[4] = {
      Vertex(rect.left, rect.top, top),
      Vertex(rect.right, rect.top + half, middle),
      Vertex(rect.left, rect.top + half, middle),
      Vertex(rect.right, rect.top + 2 * half, bottom),
  };
  const gdi::GRADIENT_RECT rects[2] = {{0, 1}, {2, 3}};
  return gdi::GradientFill(dc, vertices, 4, rects, 2, gdi::GRADIENT_FILL_RECT_V);
}

void SpectrumAnalyzer::DrawBar(gdi::HDC dc, int x, int clientHeight, int barWidth, int barHeight,
                               int band) {
  // The flags are read at every bar: the window's thread may change them at any time.
  const bool grids = showGrids.load(std::memory_order_relaxed) != 0;
  const bool gradient = showGradient.load(std::memory_order_relaxed) != 0;
  const bool peaks = showPeaks.load(std::memory_order_relaxed) == 1;

  if (grids) {
    const gdi::RECT column{x, 0, x + barWidth, clientHeight};
    gdi::FillRect(dc, &column, gridBrush.get());
  }
  const int top = clientHeight - barHeight;
  if (gradient) {
    gdi::BitBlt(dc, x, top, barWidth, barHeight, gradientDC.get(), x, top, gdi::SRCCOPY);
  } else {
    for (int y = clientHeight; y >= top; y -= lineStep) {
      const gdi::RECT row{x, y, x + barWidth, y + 1};
      gdi::FillRect(dc, &row, barBrush.get());
    }
  }
  if (grids) {
    for (int y = 0; y < clientHeight; y += 2) {
      gdi::MoveToEx(dc, x, y, nullptr);
      gdi::LineTo(dc, x + barWidth, y);
    }
  }
  if (peaks) {
    const int peak = levels.UpdatePeak(band, barHeight);
    const gdi::RECT mark{x, clientHeight - peak, x + barWidth, clientHeight - peak + 1};
    if (gradient) {
      gdi::BitBlt(dc, mark.left, mark.top, barWidth, 1, gradientDC.get(), mark.left, mark.top,
                  gdi::SRCCOPY);
    } else {
      gdi::FillRect(dc, &mark, peakBrush.get());
    }
  }
}

void SpectrumAnalyzer::DrawFrameWithGdiCalls(float fall) {
  gdi::HDC dc = backDC.get();
  gdi::FillRect(dc, &clientRect, backgroundBrush.get());
  const float pitch = static_cast<float>(width) / SpectrumLevels::kBandCount;
  const int barWidth = static_cast<int>(pitch) - 1;
  float x = 0.0f;
  for (int band = 0; band < SpectrumLevels::kBandCount; ++band) {
    const float v = levels.UpdateLevel(band, fall);
    const int barHeight = static_cast<int>(v * static_cast<float>(height));
    DrawBar(dc, static_cast<int>(x), height, barWidth, barHeight, band);
    x += pitch;
  }
}

// The picture DrawFrameWithGdiCalls draws, pixel for pixel, with each pixel written about
// once. Bars never overlap (the next starts at trunc(x + pitch) >= trunc(x) + trunc(pitch),
// one column past this bar's end), so a pixel's colour is that of the last DrawBar step
// covering it: the peak row, else a grid stripe (even rows), else the bar (rows from its
// top down), else the grid column or the background. Bars with no width draw only black
// pen on black background, which leaves the background.
void SpectrumAnalyzer::ComposeFrame(float fall) {
  static_assert(gdi::PixelOf(kBackgroundColor) == 0, "zero-width bars rely on pen = background");
  constexpr std::uint32_t kPen = 0x000000;  // the DC's default pen: black
  // The flags are read once: one changed meanwhile shows from the next frame.
  const bool grids = showGrids.load(std::memory_order_relaxed) != 0;
  const bool gradient = showGradient.load(std::memory_order_relaxed) != 0;
  const bool peaks = showPeaks.load(std::memory_order_relaxed) == 1;
  const std::uint32_t background = gdi::PixelOf(backgroundBrush->Color());
  const std::uint32_t column = grids ? gdi::PixelOf(gridBrush->Color()) : background;
  const std::uint32_t bar = gdi::PixelOf(barBrush->Color());
  const std::uint32_t peakPixel = gdi::PixelOf(peakBrush->Color());

  struct Bar {
    int left, right;  // columns, clipped to the client area
    int top;          // first bar row
    int peakRow;      // height when the mark lies below the client area or is hidden
  };
  std::array<Bar, SpectrumLevels::kBandCount> bars;
  int barCount = 0;
  const float pitch = static_cast<float>(width) / SpectrumLevels::kBandCount;
  const int barWidth = static_cast<int>(pitch) - 1;
  float x = 0.0f;
  for (int band = 0; band < SpectrumLevels::kBandCount; ++band) {
    const float v = levels.UpdateLevel(band, fall);
    const int barHeight = static_cast<int>(v * static_cast<float>(height));
    const int peak = peaks ? levels.UpdatePeak(band, barHeight) : 0;
    const int left = std::max(static_cast<int>(x), 0);
    const int right = std::min(static_cast<int>(x) + barWidth, width);
    x += pitch;
    if (left < right)
      bars[barCount++] = {left, right, std::max(height - barHeight, 0),
                          std::clamp(height - peak, 0, height)};
  }
  if (width <= 0 || height <= 0) return;  // a minimised window, or bitmaps too large to make

  // Rows above the bars (and stripe rows) are one of two patterns: gaps in the
  // background, columns in the grid colour (or background), or columns striped black.
  using gdi::detail::CopyRun;
  using gdi::detail::FillRun;
  FillRun(upperRow.data(), width, background);
  FillRun(stripeRow.data(), width, background);
  for (int b = 0; b < barCount; ++b) {
    FillRun(upperRow.data() + bars[b].left, bars[b].right - bars[b].left, column);
    FillRun(stripeRow.data() + bars[b].left, bars[b].right - bars[b].left, kPen);
  }
  std::uint32_t* pixels = backBitmap->Pixels().data();
  const std::uint32_t* gradientPixels = gradientBitmap->Pixels().data();
  const auto rowAt = [&](int y) { return static_cast<std::ptrdiff_t>(y) * width; };
  if (!grids) {
    FillRun(pixels, width * height, background);  // both patterns are all background
  } else {
    for (int y = 0; y < height; ++y)
      CopyRun(pixels + rowAt(y), (y % 2 == 0 ? stripeRow : upperRow).data(), width);
  }
  // The bars, from their tops down, between the stripes.
  const int step = grids ? 2 : 1;
  for (int b = 0; b < barCount; ++b) {
    const int n = bars[b].right - bars[b].left;
    const int first = grids ? (bars[b].top | 1) : bars[b].top;
    if (gradient) {
      for (int y = first; y < height; y += step) {
        const std::ptrdiff_t at = rowAt(y) + bars[b].left;
        CopyRun(pixels + at, gradientPixels + at, n);
      }
    } else {
      for (int y = first; y < height; y += step) FillRun(pixels + rowAt(y) + bars[b].left, n, bar);
    }
  }
  // The peak marks, over everything.
  for (int b = 0; b < barCount && peaks; ++b) {
    if (bars[b].peakRow >= height) continue;
    const std::ptrdiff_t at = rowAt(bars[b].peakRow) + bars[b].left;
    if (gradient) {
      CopyRun(pixels + at, gradientPixels + at, bars[b].right - bars[b].left);
    } else {
      FillRun(pixels + at, bars[b].right - bars[b].left, peakPixel);
    }
  }
}
