#include "visual/spectrum_levels.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kN = SpectrumLevels::kFftSize;

std::vector<float> Sine(double cyclesPerWindow, double amplitude) {
  std::vector<float> x(2048);
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] =
        static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * cyclesPerWindow * i / kN));
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

TEST(SpectrumBands, SineAtBinNineGivesAFullBarInBandOneOnly) {
  // 9 x 44100 / 512 Hz at 44100 Hz: nine cycles per 512 samples.
  SpectrumLevels s;
  const auto levels = Frame(s, Sine(9, 1.0), Sine(9, 1.0), 1.0f);
  EXPECT_FLOAT_EQ(levels[1], 1.0f);
  for (int b = 0; b < SpectrumLevels::kBandCount; ++b) {
    if (b != 1) {
      EXPECT_LT(levels[b], 1e-3) << "band " << b;
    }
  }
}

// A cosine of amplitude 0.1 on each band's first and last magnitude (a constant for
// magnitude 0) lifts that band alone, by its gain; magnitudes 240 to 255 lift none.
TEST(SpectrumBands, EdgeMagnitudesBelongToTheirOwnBandOnly) {
  constexpr int kBins = SpectrumLevels::kFftSize / 2;
  constexpr int kPerBand = 6;
  for (int bin = 0; bin < kBins; ++bin) {
    const bool edge = bin % kPerBand == 0 || bin % kPerBand == kPerBand - 1;
    if (!edge && bin < 240) continue;
    std::vector<float> x(2048);
    for (std::size_t i = 0; i < x.size(); ++i)
      x[i] = static_cast<float>(0.1 *
                                std::cos(2 * std::numbers::pi * bin * static_cast<double>(i) / kN));
    SpectrumLevels s;
    const auto levels = Frame(s, x, x, 1.0f);
    for (int b = 0; b < SpectrumLevels::kBandCount; ++b) {
      const double expected =
          b == bin / kPerBand && bin < 240 ? std::log(b + 2.0) * 0.1 * std::numbers::pi / 2 : 0.0;
      ASSERT_NEAR(levels[b], expected, 1e-4) << "magnitude " << bin << ", band " << b;
    }
  }
}

TEST(SpectrumBands, GainGrowsLogarithmicallyWithTheBand) {
  // A small DC offset lands in magnitude 0, band 0: v = ln 2 x s x pi / 2.
  SpectrumLevels s;
  const std::vector<float> dc(2048, 0.2f);
  const auto levels = Frame(s, dc, dc, 1.0f);
  EXPECT_NEAR(levels[0], std::log(2.0) * 0.2 * std::numbers::pi / 2, 1e-5);
}

TEST(SpectrumBands, IdenticalChannelsMixToTheLeftChannel) {
  SpectrumLevels s;
  auto left = Sine(3, 0.7);
  const auto original = left;
  s.Analyse(left.data(), original.data());
  for (int i = 0; i < kN; ++i) ASSERT_EQ(left[i], original[i]);
  EXPECT_EQ(left[kN], original[kN]) << "only the analysed window is overwritten";
}

struct DecayCase {
  float timeScale;
  float perFrame;
};

class SilenceDecay : public testing::TestWithParam<DecayCase> {};

TEST_P(SilenceDecay, LevelsFallByDecayTimesTimeScaleUntilZero) {
  SpectrumLevels s;
  Frame(s, Sine(9, 1.0), Sine(9, 1.0), 1.0f);
  const std::vector<float> silence(2048, 0.0f);
  for (int frame = 0; frame < 100; ++frame) {
    const float level = Frame(s, silence, silence, GetParam().timeScale)[1];
    const double expected = std::max(0.0, 1.0 - (frame + 1) * double{GetParam().perFrame});
    ASSERT_NEAR(level, expected, 1e-5) << "frame " << frame;
  }
  EXPECT_EQ(s.Level(1), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(TimeScales, SilenceDecay,
                         testing::Values(DecayCase{1.0f, 0.05f}, DecayCase{2.0f, 0.1f},
                                         DecayCase{0.5f, 0.025f}));

TEST(SpectrumFall, TimeScaleTwoDropsAFallingLevelByATenth) {
  SpectrumLevels s;
  Frame(s, Sine(9, 1.0), Sine(9, 1.0), 1.0f);
  const std::vector<float> silence(2048, 0.0f);
  EXPECT_NEAR(Frame(s, silence, silence, 2.0f)[1], 0.9f, 1e-6);
  EXPECT_NEAR(Frame(s, silence, silence, 1.0f)[1], 0.85f, 1e-6);
}

TEST(SpectrumFall, ARisingLevelJumpsAtOnce) {
  SpectrumLevels s;
  const std::vector<float> silence(2048, 0.0f);
  Frame(s, silence, silence, 1.0f);
  EXPECT_FLOAT_EQ(Frame(s, Sine(9, 1.0), Sine(9, 1.0), 1.0f)[1], 1.0f);
}

TEST(PeakRule, ANewPeakHoldsTwentyFramesThenFallsOnePixelAFrame) {
  SpectrumLevels s;
  EXPECT_EQ(s.UpdatePeak(3, 40), 40);
  for (int frame = 0; frame < 20; ++frame)
    ASSERT_EQ(s.UpdatePeak(3, 0), 40) << "held, frame " << frame;
  EXPECT_EQ(s.UpdatePeak(3, 0), 39);
  EXPECT_EQ(s.UpdatePeak(3, 0), 38);
  for (int frame = 0; frame < 100; ++frame) s.UpdatePeak(3, 0);
  EXPECT_EQ(s.Peak(3), 0);
}

TEST(PeakRule, ReachingThePeakExactlyDoesNotRenewTheHold) {
  SpectrumLevels s;
  s.UpdatePeak(0, 10);
  for (int frame = 0; frame < 20; ++frame) s.UpdatePeak(0, 10);
  EXPECT_EQ(s.UpdatePeak(0, 10), 9);
  EXPECT_EQ(s.UpdatePeak(0, 10), 10) << "strictly higher again: a new peak";
  EXPECT_EQ(s.PeakHold(0), 20);
}

}  // namespace
