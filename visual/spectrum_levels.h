// The numeric side of the spectrum: mixes a window of samples, transforms it, folds
// the magnitudes into bands with a logarithmic gain, lets the levels fall and keeps
// the peak marks. Pure: no threads, no clock, no drawing.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "visual/fast_fourier_transform.h"

class SpectrumLevels {
 public:
  static constexpr int kFftSize = 512;
  static constexpr int kBandCount = 40;
  static constexpr int kPeakHoldFrames = 20;
  static constexpr float kDecay = 0.05f;  // level fall per nominal frame, in full heights

  SpectrumLevels();

  // Averages right into the first kFftSize values of left and transforms them.
  void Analyse(float* left, const float* right);
  // The band's gain-weighted sum of this frame's magnitudes, clamped to 1.
  float BandValue(int band) const;
  // Moves the band's level to this frame's value, or lets it fall by fall; the new level.
  float UpdateLevel(int band, float fall);
  // Peak rule for a bar of barHeight pixels; returns the peak in pixels.
  int UpdatePeak(int band, int barHeight);

  float Level(int band) const { return levels[band]; }
  int Peak(int band) const { return peaks[band]; }
  int PeakHold(int band) const { return peakHolds[band]; }
  float Decay() const { return decay; }
  std::span<const float> Magnitudes() const { return magnitudes; }

 private:
  std::array<std::int32_t, kBandCount> peaks{};      // pixels above the bottom
  std::array<std::int32_t, kBandCount> peakHolds{};  // frames before the peak falls
  std::int32_t peakHoldFrames = kPeakHoldFrames;
  std::int32_t fftSize = kFftSize;
  FastFourierTransform fft{kFftSize};
  std::array<float, kBandCount> levels{};  // 0 to 1
  std::int32_t bandCount = kBandCount;
  float binsPerBand = static_cast<float>(kFftSize / 2) / kBandCount;  // 6.4, used as 6
  float decay = kDecay;
  std::array<float, kBandCount> gains{};  // ln(b + 2), single precision
  std::span<const float> magnitudes;
};
