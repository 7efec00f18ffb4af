#include "visual/spectrum_levels.h"

#include <cmath>

SpectrumLevels::SpectrumLevels() {
  for (int b = 0; b < bandCount; ++b) gains[b] = std::log(static_cast<float>(b + 2));
  magnitudes = fft.Transform(levels.data(), 0);  // all zero until the first frame
}

void SpectrumLevels::Analyse(float* left, const float* right) {
  for (int i = 0; i < fftSize; ++i) left[i] = (right[i] + left[i]) * 0.5f;
  magnitudes = fft.Transform(left, fftSize);
}

float SpectrumLevels::BandValue(int band) const {
  constexpr float kHalfPi = 1.5707963f;
  const int bins = static_cast<int>(binsPerBand);
  const int first = bins * band;
  float s = 0.0f;
  for (int i = 0; i < bins; ++i) s += magnitudes[first + i];
  const float v = gains[band] * s * kHalfPi;
  return v > 1.0f ? 1.0f : v;
}

float SpectrumLevels::UpdateLevel(int band, float fall) {
  const float v = BandValue(band);
  float& level = levels[band];
  if (v >= level - fall) {
    level = v;
  } else {
    level -= fall;
    if (level < 0.0f) level = 0.0f;
  }
  return level;
}

int SpectrumLevels::UpdatePeak(int band, int barHeight) {
  std::int32_t& peak = peaks[band];
  std::int32_t& hold = peakHolds[band];
  if (barHeight > peak) {
    peak = barHeight;
    hold = peakHoldFrames;
  } else {
    if (hold >= 0) hold -= 1;  // stops at -1: a long silence cannot wrap it
    if (hold < 0) peak -= 1;
    if (peak < 0) peak = 0;
  }
  return peak;
}
