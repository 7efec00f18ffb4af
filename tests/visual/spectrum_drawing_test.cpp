#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_window.h"
#include "tests/visual/visual_doubles.h"
#include "visual/spectrum_analyzer.h"

namespace {

namespace gdi = platform::gdi;
using testing_support::FakeWindow;

constexpr std::uint32_t kBlack = 0x000000;
const std::uint32_t kGrid = gdi::PixelOf(SpectrumAnalyzer::kGridColor);
const std::uint32_t kBar = gdi::PixelOf(SpectrumAnalyzer::kBarColor);
constexpr std::uint32_t kWhite = 0xFFFFFF;

// A constant signal lands in magnitude 0 only: band 0 at ln 2 x c x pi / 2.
// 0.46 gives a level just above 0.5, a 150-row bar in a 300-row client.
std::vector<float> Constant(float c) { return std::vector<float>(2048, c); }

std::vector<float> SineAtBin9() {
  std::vector<float> x(2048);
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] = static_cast<float>(std::sin(2 * std::numbers::pi * 9 * i / 512.0));
  return x;
}

struct Frame {
  std::vector<std::uint32_t> pixels;
  int width;
  std::uint32_t At(int x, int y) const {
    return pixels.at(static_cast<std::size_t>(y) * width + x);
  }
  bool AllBlack() const {
    return std::all_of(pixels.begin(), pixels.end(), [](std::uint32_t p) { return p == kBlack; });
  }
};

class SpectrumDrawing : public testing::Test {
 protected:
  void Make(int width, int height, std::uint8_t peaks, std::uint8_t grids, std::uint8_t gradient) {
    analyzer.reset();
    window = std::make_unique<FakeWindow>(false, platform::ui::ClientSize{width, height});
    analyzer = std::make_unique<SpectrumAnalyzer>(window.get());
    analyzer->showPeaks = peaks;
    analyzer->showGrids = grids;
    analyzer->showGradient = gradient;
    // The gradient the analyser paints, to compare bar pixels with.
    gradientDC = gdi::CreateCompatibleDC(nullptr);
    gradient_ = gdi::CreateCompatibleBitmap(gradientDC.get(), width, height);
    gdi::SelectObject(gradientDC.get(), gradient_.get());
    SpectrumAnalyzer::PaintGradient(
        {0, 0, width, height}, gradientDC.get(), SpectrumAnalyzer::kGradientTop,
        SpectrumAnalyzer::kGradientMiddle, SpectrumAnalyzer::kGradientBottom);
  }
  Frame Draw(std::vector<float> left, std::vector<float> right, float timeScale = 1.0f) {
    analyzer->Process(left.data(), right.data(), timeScale);
    return {window->LastFrame(), window->GetClientSize().width};
  }
  std::uint32_t GradientAt(int x, int y) const { return gradient_->Pixel(x, y); }

  std::unique_ptr<FakeWindow> window;
  std::unique_ptr<SpectrumAnalyzer> analyzer;
  std::unique_ptr<gdi::DeviceContext> gradientDC;
  std::unique_ptr<gdi::Bitmap> gradient_;
};

TEST_F(SpectrumDrawing, DefaultsDrawStripedGridColumnsGradientBarsAndGradientPeaks) {
  Make(400, 300, 1, 1, 1);
  const Frame f = Draw(Constant(0.46f), Constant(0.46f));
  ASSERT_EQ(window->FrameCount(), 1);
  // Band 0: columns 0..8, bar rows 150..299, black stripes on even rows.
  for (int y = 151; y < 300; y += 2) ASSERT_EQ(f.At(4, y), GradientAt(4, y)) << "row " << y;
  for (int y = 152; y < 300; y += 2) ASSERT_EQ(f.At(4, y), kBlack) << "row " << y;
  EXPECT_EQ(f.At(4, 149), kGrid);
  EXPECT_EQ(f.At(4, 148), kBlack);
  EXPECT_EQ(f.At(4, 150), GradientAt(4, 150)) << "the peak mark is drawn over the stripe";
  EXPECT_NE(GradientAt(4, 150), kBlack);
  // Band 1 has no bar: its column is grid green with stripes; the gap column is black.
  EXPECT_EQ(f.At(12, 1), kGrid);
  EXPECT_EQ(f.At(12, 299), kGrid);
  EXPECT_EQ(f.At(12, 298), kBlack);
  for (int y = 0; y < 300; ++y) ASSERT_EQ(f.At(9, y), kBlack) << "gap row " << y;
  EXPECT_EQ(f.At(399, 10), kBlack);
}

TEST_F(SpectrumDrawing, AllFlagsOffDrawsSolidGreenBarsOnBlackOnly) {
  Make(400, 300, 0, 0, 0);
  const Frame f = Draw(Constant(0.46f), Constant(0.46f));
  for (int y = 150; y < 300; ++y)
    for (int x = 0; x < 9; ++x) ASSERT_EQ(f.At(x, y), kBar) << x << "," << y;
  for (int y = 0; y < 150; ++y) ASSERT_EQ(f.At(4, y), kBlack) << "row " << y;
  for (int y = 0; y < 300; ++y) ASSERT_EQ(f.At(9, y), kBlack);
  for (int y = 0; y < 300; ++y) ASSERT_EQ(f.At(15, y), kBlack) << "no grid, no bar in band 1";
  EXPECT_EQ(analyzer->Levels().Peak(0), 0) << "hidden peaks do not move";
}

// The white mark holds while the bar falls; hidden (showPeaks other than 1) it stays
// where it was, and shown again it goes on from there.
TEST_F(SpectrumDrawing, PeaksWithoutGradientAreAWhiteRowThatHoldsWhileTheBarFalls) {
  Make(400, 300, 1, 0, 0);
  Frame f = Draw(Constant(0.46f), Constant(0.46f));
  EXPECT_EQ(f.At(4, 150), kWhite);
  EXPECT_EQ(f.At(4, 151), kBar);
  f = Draw(Constant(0.0f), Constant(0.0f));  // level 0.45: rows 165..299
  EXPECT_EQ(f.At(4, 150), kWhite);
  EXPECT_EQ(f.At(4, 160), kBlack);
  EXPECT_EQ(f.At(4, 165), kBar);
  for (const std::uint8_t hidden : {0, 2}) {
    analyzer->showPeaks = hidden;
    for (int i = 0; i < 40; ++i) Draw(Constant(0.0f), Constant(0.0f));
    EXPECT_EQ(analyzer->Levels().Peak(0), 150) << "showPeaks " << int{hidden};
  }
  analyzer->showPeaks = 1;
  EXPECT_EQ(Draw(Constant(0.0f), Constant(0.0f)).At(4, 150), kWhite);
}

TEST_F(SpectrumDrawing, SineOnBinNineFillsBandOneOnlyInTheRealWindowSize) {
  Make(281, 62, 0, 0, 0);
  const Frame f = Draw(SineAtBin9(), SineAtBin9());
  // pitch 7.025: band 1 at columns 7..12.
  for (int y = 0; y < 62; ++y) ASSERT_EQ(f.At(9, y), kBar) << "row " << y;
  for (int b = 0; b < 40; ++b) {
    if (b == 1) continue;
    const int x = static_cast<int>(b * 7.025f);
    EXPECT_EQ(f.At(x, 60), kBlack) << "band " << b;
  }
}

TEST_F(SpectrumDrawing, OddHeightLeavesTheGradientsLastRowUnpainted) {
  Make(400, 301, 0, 0, 1);
  EXPECT_EQ(GradientAt(4, 300), kBlack);
  EXPECT_NE(GradientAt(4, 299), kBlack);
}

// Below 80 pixels the bars have no width: black frames only. A minimised window
// (0 x 0) gets no frames at all.
TEST_F(SpectrumDrawing, TooNarrowDrawsOnlyBlackAndMinimisedNothing) {
  for (const int width : {79, 60, 39, 1, 0}) {
    SCOPED_TRACE(width);
    Make(width, width == 0 ? 0 : 62, 1, 1, 1);
    const Frame f = Draw(SineAtBin9(), SineAtBin9());
    EXPECT_EQ(window->FrameCount(), width == 0 ? 0 : 1);
    EXPECT_TRUE(f.AllBlack());
  }
}

TEST(SpectrumLifecycle, AttachStartsFramesAndDetachStopsAndDestroysTheConsumer) {
  EXPECT_EQ(std::u16string(SpectrumAnalyzer(nullptr).Name()), u"SpectrumAnalyzer[0]");
  testing_support::SteppedClock clock;
  clock.Release();
  FakeWindow window(false, {281, 62});
  testing_support::PositionedOutput output(88200, 4);
  SpectrumAnalyzer analyzer(&window, clock);
  EXPECT_EQ(analyzer.Consumer(), nullptr);
  EXPECT_FALSE(analyzer.ConsumerActive());
  analyzer.Detach();  // never attached: nothing happens
  analyzer.ResumeDspThread();
  analyzer.Attach(&output);
  ASSERT_NE(analyzer.Consumer(), nullptr);
  EXPECT_TRUE(analyzer.ConsumerActive());
  std::vector<std::uint8_t> block(4608, 0x40);
  analyzer.Consumer()->Consume(block.data(), static_cast<std::uint32_t>(block.size()));
  output.played = 4608;
  EXPECT_TRUE(window.WaitForFrames(3));
  analyzer.PauseDspThread();
  analyzer.ResumeDspThread();
  analyzer.Detach();
  EXPECT_EQ(analyzer.Consumer(), nullptr);
  EXPECT_FALSE(analyzer.ConsumerActive());
  EXPECT_EQ(window.LastFrame().size(), 281u * 62u) << "the last frame stays with the window";
}

}  // namespace
