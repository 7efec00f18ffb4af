// SpectrumAnalyzer's drawing side: the objects it draws with, the bars and the gradient.
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
