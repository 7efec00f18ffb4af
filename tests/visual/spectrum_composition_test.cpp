// The composed frame against the same frame drawn one GDI call per step: equal pictures,
// levels and peaks for every flag combination and client size, frame after frame, with
// the window hidden now and then.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_window.h"
#include "visual/spectrum_analyzer.h"

namespace {

using platform::ui::ClientSize;
using testing_support::FakeWindow;

// Signals chosen to reach every bar height: silence (bars and peaks fall to 0), loud
// noise (full-height bars), a constant (band 0 only), sines and quieter noise between.
std::vector<float> Signal(std::mt19937& random, int kind) {
  std::vector<float> x(2048, 0.0f);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  const float amplitude = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
  if (kind == 0) return x;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const float sine = static_cast<float>(std::sin(2 * std::numbers::pi * 23.5 * i / 512.0));
    x[i] = kind == 1   ? 4.0f * unit(random)
           : kind == 2 ? amplitude
           : kind == 3 ? amplitude * sine
                       : amplitude * amplitude * unit(random);
  }
  return x;
}

class ComposedAgainstGdiCalls : public testing::TestWithParam<ClientSize> {};

TEST_P(ComposedAgainstGdiCalls, SamePictureLevelsAndPeaksEveryFrame) {
  const ClientSize size = GetParam();
  FakeWindow composedWindow(false, {size.width, size.height});
  FakeWindow referenceWindow(false, {size.width, size.height});
  SpectrumAnalyzer composed(&composedWindow);
  SpectrumAnalyzer reference(&referenceWindow);
  reference.DrawWithGdiCalls(true);

  std::mt19937 random(static_cast<std::uint32_t>(size.width * 1000 + size.height));
  std::uniform_int_distribution<int> pick(0, 99);
  const std::uint8_t flagValues[] = {0, 1, 2, 255};
  int kind = 1;
  for (int frame = 0; frame < 120; ++frame) {
    if (frame % 6 == 0) {
      // Peaks 2 and 255 are off (on only at exactly 1); grids and gradient are on when not 0.
      const std::uint8_t peaks = flagValues[pick(random) % 4];
      const std::uint8_t grids = flagValues[pick(random) % 4];
      const std::uint8_t gradient = flagValues[pick(random) % 4];
      for (SpectrumAnalyzer* a : {&composed, &reference}) {
        a->showPeaks = peaks;
        a->showGrids = grids;
        a->showGradient = gradient;
      }
    }
    // Long silences in the second half let held peaks fall all the way to 0.
    if (frame % 10 == 0) kind = frame >= 60 && pick(random) < 60 ? 0 : pick(random) % 5;
    const std::vector<float> left = Signal(random, kind), right = Signal(random, kind);
    const float timeScale = 0.25f + static_cast<float>(pick(random)) / 40.0f;
    std::vector<float> l1 = left, r1 = right, l2 = left, r2 = right;

    // Now and then the composed window is hidden for a few frames: nothing reaches it,
    // the levels move on, and its first frame back is current.
    if (frame % 9 == 4) composedWindow.shown = !composedWindow.shown;
    const int before = composedWindow.FrameCount(), referenceBefore = referenceWindow.FrameCount();
    composed.Process(l1.data(), r1.data(), timeScale);
    reference.Process(l2.data(), r2.data(), timeScale);
    const int referenceFrames = referenceWindow.FrameCount() - referenceBefore;
    ASSERT_EQ(composedWindow.FrameCount() - before, composedWindow.shown ? referenceFrames : 0)
        << "frame " << frame;
    for (int b = 0; b < SpectrumLevels::kBandCount; ++b) {
      ASSERT_EQ(composed.Levels().Level(b), reference.Levels().Level(b)) << "band " << b;
      ASSERT_EQ(composed.Levels().Peak(b), reference.Levels().Peak(b)) << "band " << b;
      ASSERT_EQ(composed.Levels().PeakHold(b), reference.Levels().PeakHold(b)) << "band " << b;
    }
    if (!composedWindow.shown) continue;
    const std::vector<std::uint32_t> got = composedWindow.LastFrame();
    const std::vector<std::uint32_t> want = referenceWindow.LastFrame();
    ASSERT_EQ(got.size(), want.size()) << "frame " << frame;
    const std::size_t i = std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
    ASSERT_EQ(i, got.size()) << "frame " << frame << ", pixel (" << i % size.width << ", "
                             << i / size.width << "), flags peaks " << int(composed.showPeaks)
                             << " grids " << int(composed.showGrids) << " gradient "
                             << int(composed.showGradient);
  }
  // Flags change every sixth frame at most, so most frames go out as changes only.
  if (composedWindow.FrameCount() > 0) {
    EXPECT_GE(composedWindow.ChangedFrames(), 40);
  }
}

// The real client size, odd and tiny heights, widths either side of 80 (no bars below it),
// pitches that are and are not whole, a minimised window.
INSTANTIATE_TEST_SUITE_P(
    Sizes, ComposedAgainstGdiCalls,
    testing::Values(ClientSize{281, 62}, ClientSize{400, 300}, ClientSize{400, 301},
                    ClientSize{79, 62}, ClientSize{80, 62}, ClientSize{81, 63}, ClientSize{119, 2},
                    ClientSize{120, 1}, ClientSize{160, 3}, ClientSize{1, 1}, ClientSize{0, 0},
                    ClientSize{281, 0}, ClientSize{0, 62}, ClientSize{1000, 7},
                    ClientSize{317, 129}, ClientSize{2000, 33}),
    [](const testing::TestParamInfo<ClientSize>& info) {
      return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

}  // namespace
