#include "visual/fast_fourier_transform.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kN = 512;
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

}  // namespace
