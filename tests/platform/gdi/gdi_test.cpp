#include "platform/gdi/gdi.h"

#include <gtest/gtest.h>

#include "tests/support/fake_window.h"

namespace gdi = platform::gdi;
using testing_support::FakeWindow;

namespace {

struct MemoryCanvas {
  explicit MemoryCanvas(int w, int h)
      : dc(gdi::CreateCompatibleDC(nullptr)), bitmap(gdi::CreateCompatibleBitmap(dc.get(), w, h)) {
    gdi::SelectObject(dc.get(), bitmap.get());
  }
  std::uint32_t At(int x, int y) const { return bitmap->Pixel(x, y); }
  std::unique_ptr<gdi::DeviceContext> dc;
  std::unique_ptr<gdi::Bitmap> bitmap;
};

// FillRect with a brush of its own.
int Fill(gdi::HDC dc, gdi::RECT r, gdi::COLORREF colour) {
  return gdi::FillRect(dc, &r, gdi::CreateSolidBrush(colour).get());
}

TEST(GdiColours, RgbIsBgrLayoutAndPixelsAreRgb) {
  EXPECT_EQ(gdi::RGB(22, 53, 3), 0x00033516u);
  EXPECT_EQ(gdi::RGB(81, 254, 5), 0x0005FE51u);
  EXPECT_EQ(gdi::PixelOf(gdi::RGB(81, 254, 5)), 0x0051FE05u);
}

TEST(GdiFillRect, FillsClippedAndIgnoresEmptyRectangles) {
  MemoryCanvas c(10, 5);
  EXPECT_NE(Fill(c.dc.get(), {-3, 3, 2, 99}, gdi::RGB(255, 0, 0)), 0);
  EXPECT_EQ(c.At(0, 3), 0xFF0000u);
  EXPECT_EQ(c.At(1, 4), 0xFF0000u);
  EXPECT_EQ(c.At(2, 4), 0u);
  EXPECT_EQ(c.At(0, 2), 0u);
  Fill(c.dc.get(), {5, 0, 4, 5}, gdi::RGB(255, 0, 0));  // inverted
  EXPECT_EQ(c.At(4, 0), 0u);
}

TEST(GdiBitBlt, CopiesTheOverlapOfBothSurfaces) {
  MemoryCanvas src(4, 4), dst(4, 4);
  Fill(src.dc.get(), {0, 0, 4, 4}, gdi::RGB(0, 0, 255));
  EXPECT_TRUE(gdi::BitBlt(dst.dc.get(), 2, 2, 10, 10, src.dc.get(), 0, 0, gdi::SRCCOPY));
  EXPECT_EQ(dst.At(1, 1), 0u);
  EXPECT_EQ(dst.At(2, 2), 0x0000FFu);
  EXPECT_EQ(dst.At(3, 3), 0x0000FFu);
}

TEST(GdiLines, DefaultPenIsOnePixelBlackAndOmitsTheEndPoint) {
  MemoryCanvas c(6, 6);
  Fill(c.dc.get(), {0, 0, 6, 6}, gdi::RGB(255, 255, 255));
  gdi::MoveToEx(c.dc.get(), 1, 2, nullptr);
  gdi::LineTo(c.dc.get(), 4, 2);
  EXPECT_EQ(c.At(0, 2), 0xFFFFFFu);
  EXPECT_EQ(c.At(1, 2), 0u);
  EXPECT_EQ(c.At(3, 2), 0u);
  EXPECT_EQ(c.At(4, 2), 0xFFFFFFu);
  EXPECT_EQ(c.At(1, 1), 0xFFFFFFu);
  EXPECT_EQ(c.At(1, 3), 0xFFFFFFu);
  // Leftward and vertical lines also stop before their end.
  gdi::MoveToEx(c.dc.get(), 5, 4, nullptr);
  gdi::LineTo(c.dc.get(), 3, 4);
  EXPECT_EQ(c.At(5, 4), 0u);
  EXPECT_EQ(c.At(3, 4), 0xFFFFFFu);
  gdi::LineTo(c.dc.get(), 3, 0);
  EXPECT_EQ(c.At(3, 1), 0u);
  EXPECT_EQ(c.At(3, 0), 0xFFFFFFu);
}

TEST(GdiGradient, VerticalRectanglesShadeFromUpperToLowerVertexColour) {
  MemoryCanvas c(3, 5);
  const gdi::TRIVERTEX v[2] = {{0, 0, 0xFF00, 0, 0, 0}, {3, 4, 0, 0, 0xFF00, 0}};
  const gdi::GRADIENT_RECT r{0, 1};
  ASSERT_TRUE(gdi::GradientFill(c.dc.get(), v, 2, &r, 1, gdi::GRADIENT_FILL_RECT_V));
  EXPECT_EQ(c.At(0, 0), 0xFF0000u);
  EXPECT_EQ(c.At(2, 0), 0xFF0000u);
  EXPECT_EQ(c.At(1, 2), 0x7F007Fu);
  EXPECT_EQ(c.At(1, 4), 0u) << "the bottom edge row lies outside the rectangle";
  const gdi::GRADIENT_RECT bad{0, 7};  // a vertex the call was not given
  EXPECT_FALSE(gdi::GradientFill(c.dc.get(), v, 2, &bad, 1, gdi::GRADIENT_FILL_RECT_V));
}

TEST(GdiSelectObject, ReturnsThePreviousBitmapAndRefusesABitmapInUse) {
  auto a = gdi::CreateCompatibleDC(nullptr);
  auto b = gdi::CreateCompatibleDC(nullptr);
  auto bitmap = gdi::CreateCompatibleBitmap(a.get(), 2, 2);
  gdi::HBITMAP original = gdi::SelectObject(a.get(), bitmap.get());
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(gdi::SelectObject(b.get(), bitmap.get()), nullptr);
  EXPECT_EQ(gdi::SelectObject(a.get(), original), bitmap.get());
  EXPECT_NE(gdi::SelectObject(b.get(), bitmap.get()), nullptr);
  bitmap.reset();  // destroyed while selected: the DC falls back to its own
  EXPECT_NE(Fill(b.get(), {0, 0, 5, 5}, gdi::RGB(1, 2, 3)), 0);
  EXPECT_EQ(gdi::CreateCompatibleBitmap(a.get(), 1 << 20, 1 << 20), nullptr);
}

TEST(GdiWindowDC, BlitIntoTheWindowPresentsOneWholeFrame) {
  FakeWindow window(false, {4, 3});
  gdi::RECT client;
  ASSERT_TRUE(gdi::GetClientRect(&window, &client));
  EXPECT_EQ(client.right, 4);
  EXPECT_EQ(client.bottom, 3);
  auto windowDC = gdi::GetDC(&window);
  MemoryCanvas back(4, 3);
  Fill(back.dc.get(), client, gdi::RGB(9, 8, 7));
  EXPECT_EQ(window.FrameCount(), 0) << "drawing off-screen presents nothing";
  ASSERT_TRUE(gdi::BitBlt(windowDC.get(), 0, 0, 4, 3, back.dc.get(), 0, 0, gdi::SRCCOPY));
  EXPECT_EQ(window.FrameCount(), 1);
  const auto frame = window.LastFrame();
  ASSERT_EQ(frame.size(), 12u);
  for (std::uint32_t p : frame) EXPECT_EQ(p, 0x090807u);
  EXPECT_EQ(gdi::SelectObject(windowDC.get(), back.bitmap.get()), nullptr);
  EXPECT_EQ(gdi::GetDC(nullptr), nullptr);
  FakeWindow minimised(false, {0, 0});
  gdi::BitBlt(gdi::GetDC(&minimised).get(), 0, 0, 4, 3, back.dc.get(), 0, 0, gdi::SRCCOPY);
  EXPECT_EQ(minimised.FrameCount(), 0) << "a minimised window is given nothing";
}

// The fake window fails a changed rectangle outside the frame.
TEST(GdiWindowDC, AWholeBitmapBlitNamesWhatChangedSinceTheWindowHadIt) {
  FakeWindow window(false, {4, 3});
  auto windowDC = gdi::GetDC(&window);
  MemoryCanvas back(4, 3), other(4, 3);
  const auto present = [&](MemoryCanvas& from) {
    gdi::BitBlt(windowDC.get(), 0, 0, 4, 3, from.dc.get(), 0, 0, gdi::SRCCOPY);
  };
  present(back);  // never seen: whole
  back.bitmap->MarkChanged({1, 1, 9, 2});
  back.bitmap->MarkChanged({5, 0, 6, 3});  // outside: dropped; the first clipped
  present(back);
  present(back);  // nothing changed: an empty change list
  Fill(back.dc.get(), {0, 0, 1, 1}, gdi::RGB(1, 2, 3));
  present(back);  // drawn by a GDI call: whole
  present(back);
  gdi::MoveToEx(back.dc.get(), 0, 1, nullptr);
  gdi::LineTo(back.dc.get(), 3, 1);
  present(back);  // a line is a GDI call too: whole
  present(other);
  present(back);  // the window showed another bitmap meanwhile: whole
  Fill(windowDC.get(), {0, 0, 1, 1}, gdi::RGB(1, 2, 3));
  present(back);  // the window DC drew its own picture meanwhile: whole
  for (int i = 0; i <= static_cast<int>(gdi::Bitmap::kMaxChangedRects); ++i)
    back.bitmap->MarkChanged({0, 0, 1, 1});
  present(back);  // too many rectangles: whole
  EXPECT_EQ(window.FrameLog(), (std::vector<int>{-1, 1, 0, -1, 0, -1, -1, -1, -1, -1, -1}));
}

}  // namespace
