// The spectrum's analysis: the transform against a double-precision DFT, the bands,
// the levels' fall and the peaks' hold.
#include "visual/spectrum_levels.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "visual/fast_fourier_transform.h"

namespace {

constexpr int kN = SpectrumLevels::kFftSize;

// Single-precision tables and butterflies against a double-precision DFT: the
// magnitudes (normalised by N) agree to well within this.
constexpr double kTolerance = 5e-5;

std::vector<double> ReferenceMagnitudes(const std::vector<float>& x) {
  std::vector<double> mags(kN / 2);
  for (int k = 0; k < kN / 2; ++k) {
    std::complex<double> sum = 0;
    for (int n = 0; n < kN; ++n)
      sum += double{x[n]} * std::polar(1.0, -2.0 * std::numbers::pi * k * n / kN);
    mags[k] = (k == 0 ? 1.0 : 2.0) * std::abs(sum) / kN;
  }
  return mags;
}

std::vector<float> Signal(const char* kind) {
  std::vector<float> x(kN, 0.0f);
  const std::string k = kind;
  std::uint32_t noiseState = 12345;
  for (int n = 0; n < kN; ++n) {
    const double t = static_cast<double>(n) / kN;
    if (k == "impulse") x[n] = n == 0 ? 1.0f : 0.0f;
    if (k == "dc") x[n] = 0.5f;
    if (k == "sine9") x[n] = static_cast<float>(std::sin(2 * std::numbers::pi * 9 * t));
    if (k == "cosine100")
      x[n] = static_cast<float>(0.25 * std::cos(2 * std::numbers::pi * 100 * t));
    if (k == "offbin") x[n] = static_cast<float>(0.8 * std::sin(2 * std::numbers::pi * 37.3 * t));
    if (k == "noise") {
      noiseState = noiseState * 1664525u + 1013904223u;
      x[n] = static_cast<float>(static_cast<std::int32_t>(noiseState) / 2147483648.0);
    }
  }
  return x;
}

class FftAgainstReference : public testing::TestWithParam<const char*> {};

TEST_P(FftAgainstReference, MagnitudesMatchDoublePrecisionDft) {
  FastFourierTransform fft(kN);
  const std::vector<float> x = Signal(GetParam());
  const std::vector<double> expected = ReferenceMagnitudes(x);
  const auto got = fft.Transform(x.data(), kN);
  ASSERT_EQ(got.size(), static_cast<std::size_t>(kN / 2));
  for (int k = 0; k < kN / 2; ++k) EXPECT_NEAR(got[k], expected[k], kTolerance) << "bin " << k;
}

INSTANTIATE_TEST_SUITE_P(KnownSignals, FftAgainstReference,
                         testing::Values("impulse", "dc", "sine9", "cosine100", "offbin", "noise"));

TEST(FftInput, AShortInputIsPaddedWithZerosAndALongOneDecimated) {
  FastFourierTransform fft(kN);
  const std::vector<float> ones(2 * kN, 1.0f);
  EXPECT_NEAR(fft.Transform(ones.data(), kN / 2)[0], 0.5f, 1e-6);
  EXPECT_NEAR(fft.Transform(ones.data(), 2 * kN)[0], 1.0f, 1e-6);
}

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
