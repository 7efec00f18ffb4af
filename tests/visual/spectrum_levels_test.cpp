#include "visual/spectrum_levels.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kN = SpectrumLevels::kFftSize;

// A sine, or with phase pi / 2 a cosine, over the window.
std::vector<float> Sine(double cyclesPerWindow, double amplitude, double phase = 0) {
  std::vector<float> x(2048);
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] = static_cast<float>(amplitude *
                              std::sin(2 * std::numbers::pi * cyclesPerWindow * i / kN + phase));
  return x;
}

// One frame of analysis and falls; the levels afterwards.
std::vector<float> Frame(SpectrumLevels& s, std::vector<float> left, std::vector<float> right,
                         float timeScale) {
  s.Analyse(left.data(), right.data());
  std::vector<float> out;
  for (int b = 0; b < SpectrumLevels::kBandCount; ++b)
    out.push_back(s.UpdateLevel(b, s.Decay() * timeScale));
  return out;
}

// A cosine of amplitude 0.1 on each band's first and last magnitude (a constant for
// magnitude 0) lifts that band alone, by its gain ln(b + 2); magnitudes 240 to 255 lift none.
TEST(SpectrumBands, EdgeMagnitudesBelongToTheirOwnBandOnly) {
  constexpr int kBins = SpectrumLevels::kFftSize / 2;
  constexpr int kPerBand = 6;
  for (int bin = 0; bin < kBins; ++bin) {
    const bool edge = bin % kPerBand == 0 || bin % kPerBand == kPerBand - 1;
    if (!edge && bin < 240) continue;
    const std::vector<float> x = Sine(bin, 0.1, std::numbers::pi / 2);
    SpectrumLevels s;
    const auto levels = Frame(s, x, x, 1.0f);
    for (int b = 0; b < SpectrumLevels::kBandCount; ++b) {
      const double expected =
          b == bin / kPerBand && bin < 240 ? std::log(b + 2.0) * 0.1 * std::numbers::pi / 2 : 0.0;
      ASSERT_NEAR(levels[b], expected, 1e-4) << "magnitude " << bin << ", band " << b;
    }
  }
}

TEST(SpectrumBands, TheChannelsAreMixedIntoTheAnalysedPartOfLeft) {
  SpectrumLevels s;
  auto left = Sine(3, 0.7);
  const auto original = left, right = Sine(5, 0.2);
  s.Analyse(left.data(), right.data());
  for (int i = 0; i < kN; ++i) ASSERT_EQ(left[i], (original[i] + right[i]) * 0.5f) << i;
  for (std::size_t i = kN; i < left.size(); ++i) ASSERT_EQ(left[i], original[i]) << i;
}

// A full bar (a sine on band 1's bin, clamped to 1) falls by decay x time scale a frame
// until 0, and the next loud frame lifts it at once.
TEST(SilenceDecay, LevelsFallByDecayTimesTimeScaleUntilZero) {
  struct Row {
    float timeScale;
    float perFrame;
  };
  for (const auto& [timeScale, perFrame] :
       {Row{.timeScale = 1, .perFrame = 0.05f}, Row{.timeScale = 2, .perFrame = 0.1f},
        Row{.timeScale = 0.5f, .perFrame = 0.025f}}) {
    SCOPED_TRACE(timeScale);
    SpectrumLevels s;
    Frame(s, Sine(9, 1.0), Sine(9, 1.0), 1.0f);
    const std::vector<float> silence(2048, 0.0f);
    for (int frame = 0; frame < 100; ++frame) {
      const double expected = std::max(0.0, 1.0 - (frame + 1) * double{perFrame});
      ASSERT_NEAR(Frame(s, silence, silence, timeScale)[1], expected, 1e-5) << "frame " << frame;
    }
    EXPECT_EQ(s.Level(1), 0.0f);
    EXPECT_FLOAT_EQ(Frame(s, Sine(9, 1.0), Sine(9, 1.0), 1.0f)[1], 1.0f) << "a rising level jumps";
  }
}

// A new peak holds twenty frames, then falls a pixel a frame; reaching it exactly does
// not renew the hold, only a strictly higher bar does.
TEST(PeakRule, ANewPeakHoldsTwentyFramesThenFallsOnePixelAFrame) {
  SpectrumLevels s;
  EXPECT_EQ(s.UpdatePeak(3, 40), 40);
  for (int frame = 0; frame < 20; ++frame)
    ASSERT_EQ(s.UpdatePeak(3, frame % 2 == 0 ? 0 : 40), 40) << "held, frame " << frame;
  EXPECT_EQ(s.UpdatePeak(3, 0), 39);
  EXPECT_EQ(s.UpdatePeak(3, 0), 38);
  EXPECT_EQ(s.UpdatePeak(3, 39), 39) << "strictly higher again: a new peak";
  EXPECT_EQ(s.PeakHold(3), 20);
  for (int frame = 0; frame < 100; ++frame) s.UpdatePeak(3, 0);
  EXPECT_EQ(s.Peak(3), 0);
}

}  // namespace
