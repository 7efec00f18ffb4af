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
  // The gradient is vertical: each of its rows is one colour.
  gradientRows.assign(static_cast<std::size_t>(height), 0u);
  for (int y = 0; y < height && width > 0; ++y) gradientRows[y] = gradientBitmap->Pixel(0, y);
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
  backShowsComposition = false;
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

// The picture DrawFrameWithGdiCalls draws, pixel for pixel, writing only the rows that
// differ from the frame before. Bars never overlap (the next starts at trunc(x + pitch)
// >= trunc(x) + trunc(pitch), one column past this bar's end), so a pixel's colour is
// that of the last DrawBar step covering it: the peak row, else a grid stripe (even
// rows), else the bar (rows from its top down), else the grid column or the background.
// Bars with no width draw only black pen on black background, which leaves the
// background; the gaps between bars are background whatever the levels.
void SpectrumAnalyzer::ComposeFrame(float fall, bool draw) {
  static_assert(gdi::PixelOf(kBackgroundColor) == 0, "zero-width bars rely on pen = background");
  constexpr std::uint32_t kPen = 0x000000;  // the DC's default pen: black
  // The flags are read once: one changed meanwhile shows from the next frame.
  const Look look{showGrids.load(std::memory_order_relaxed) != 0,
                  showGradient.load(std::memory_order_relaxed) != 0,
                  showPeaks.load(std::memory_order_relaxed) == 1};
  const std::uint32_t background = gdi::PixelOf(backgroundBrush->Color());
  const std::uint32_t column = look.grids ? gdi::PixelOf(gridBrush->Color()) : background;
  const std::uint32_t bar = gdi::PixelOf(barBrush->Color());
  const std::uint32_t peakPixel = gdi::PixelOf(peakBrush->Color());

  std::array<ComposedBar, SpectrumLevels::kBandCount> bars;
  int barCount = 0;
  const float pitch = static_cast<float>(width) / SpectrumLevels::kBandCount;
  const int barWidth = static_cast<int>(pitch) - 1;
  float x = 0.0f;
  for (int band = 0; band < SpectrumLevels::kBandCount; ++band) {
    const float v = levels.UpdateLevel(band, fall);
    const int barHeight = static_cast<int>(v * static_cast<float>(height));
    const int peak = look.peaks ? levels.UpdatePeak(band, barHeight) : 0;
    const int left = std::max(static_cast<int>(x), 0);
    const int right = std::min(static_cast<int>(x) + barWidth, width);
    x += pitch;
    if (left < right)
      bars[barCount++] = {left, right, std::max(height - barHeight, 0),
                          std::clamp(height - peak, 0, height)};
  }
  // Not drawn: the back buffer and the window keep the last picture, which the next frame
  // drawn changes as usual.
  if (!draw || width <= 0 || height <= 0) return;

  using gdi::detail::CopyRun;
  using gdi::detail::FillRun;
  std::uint32_t* pixels = backBitmap->Pixels().data();
  const auto paintRows = [&](const ComposedBar& b, int firstRow, int endRow) {
    const int n = b.right - b.left;
    for (int y = firstRow; y < endRow; ++y) {
      const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * width + b.left;
      const bool barRow = y == b.peakRow || (y >= b.top && !(look.grids && y % 2 == 0));
      if (barRow && look.gradient) {
        FillRun(pixels + at, n, gradientRows[y]);
      } else if (y == b.peakRow) {
        FillRun(pixels + at, n, peakPixel);
      } else {
        FillRun(pixels + at, n, barRow ? bar : look.grids && y % 2 == 0 ? kPen : column);
      }
    }
  };

  if (!backShowsComposition || look != shownLook || barCount != shownBarCount) {
    // Rows above the bars follow one of two patterns: gaps in the background, columns in
    // the grid colour (or background) or, on stripe rows, black.
    if (!look.grids) {
      FillRun(pixels, width * height, background);
    } else {
      FillRun(upperRow.data(), width, background);
      FillRun(stripeRow.data(), width, background);
      for (int b = 0; b < barCount; ++b) {
        FillRun(upperRow.data() + bars[b].left, bars[b].right - bars[b].left, column);
        FillRun(stripeRow.data() + bars[b].left, bars[b].right - bars[b].left, kPen);
      }
      for (int y = 0; y < height; ++y)
        CopyRun(pixels + static_cast<std::ptrdiff_t>(y) * width,
                (y % 2 == 0 ? stripeRow : upperRow).data(), width);
    }
    for (int b = 0; b < barCount; ++b) {
      paintRows(bars[b], bars[b].top, height);
      if (bars[b].peakRow < bars[b].top) paintRows(bars[b], bars[b].peakRow, bars[b].peakRow + 1);
    }
    backBitmap->MarkAllChanged();
  } else {
    for (int b = 0; b < barCount; ++b) {
      const ComposedBar& was = shownBars[b];
      const ComposedBar& now = bars[b];
      // Between the old and the new top a row turns from bar to column or back.
      int firstRow = std::min(was.top, now.top);
      int endRow = std::max(was.top, now.top);
      paintRows(now, firstRow, endRow);
      if (firstRow == endRow) firstRow = height, endRow = 0;
      if (was.peakRow != now.peakRow) {
        for (const int row : {was.peakRow, now.peakRow}) {
          if (row >= height) continue;
          paintRows(now, row, row + 1);
          firstRow = std::min(firstRow, row);
          endRow = std::max(endRow, row + 1);
        }
      }
      if (firstRow < endRow) backBitmap->MarkChanged({now.left, firstRow, now.right, endRow});
    }
  }
  shownBars = bars;
  shownBarCount = barCount;
  shownLook = look;
  backShowsComposition = true;
}
