#include "decoders/downmix.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace decoding {
namespace {

// Weights of each source channel in the left and right outputs. Each side is
// normalised so that a full-scale signal on every channel cannot clip.
struct MixWeights {
  std::array<float, 8> left{};
  std::array<float, 8> right{};
};

enum Role { kLeft, kRight, kCentre, kLfe };

// Default speaker layouts by channel count (the WAVE and FLAC orders).
Role RoleOf(int channel, int channels) {
  static constexpr Role kLayouts[9][8] = {
      {},
      {kCentre},
      {kLeft, kRight},
      {kLeft, kRight, kCentre},                                          // 3.0
      {kLeft, kRight, kLeft, kRight},                                    // quad
      {kLeft, kRight, kCentre, kLeft, kRight},                           // 5.0
      {kLeft, kRight, kCentre, kLfe, kLeft, kRight},                     // 5.1
      {kLeft, kRight, kCentre, kLfe, kCentre, kLeft, kRight},            // 6.1
      {kLeft, kRight, kCentre, kLfe, kLeft, kRight, kLeft, kRight},      // 7.1
  };
  return kLayouts[channels][channel];
}

MixWeights WeightsFor(int channels) {
  MixWeights w;
  constexpr float kMinus3dB = 0.70710678f;
  const int used = channels < 8 ? channels : 8;
  for (int c = 0; c < used; ++c) {
    // Fronts at full level, everything else at -3 dB.
    const float level = c < 2 ? 1.0f : kMinus3dB;
    switch (RoleOf(c, used)) {
      case kLeft: w.left[c] = level; break;
      case kRight: w.right[c] = level; break;
      case kCentre: w.left[c] = w.right[c] = kMinus3dB; break;
      case kLfe: break;  // small speakers cannot use it
    }
  }
  float sumLeft = 0.0f;
  float sumRight = 0.0f;
  for (int c = 0; c < 8; ++c) sumLeft += w.left[c], sumRight += w.right[c];
  for (int c = 0; c < 8; ++c) {
    if (sumLeft > 0) w.left[c] /= sumLeft;
    if (sumRight > 0) w.right[c] /= sumRight;
  }
  return w;
}

std::int16_t ToSample(float value) {
  return static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

}  // namespace

void DownmixToStereo(const std::int16_t* in, std::uint32_t frameCount, int channels, std::int16_t* out) {
  const MixWeights w = WeightsFor(channels);
  const int used = std::min(channels, 8);
  for (std::uint32_t f = 0; f < frameCount; ++f) {
    const std::int16_t* frame = in + static_cast<std::size_t>(f) * channels;
    float left = 0.0f;
    float right = 0.0f;
    for (int c = 0; c < used; ++c) {
      left += w.left[c] * frame[c];
      right += w.right[c] * frame[c];
    }
    out[2 * f] = ToSample(left);
    out[2 * f + 1] = ToSample(right);
  }
}

void DownmixToStereo(const std::int32_t* const* planes, std::uint32_t frameCount, int channels,
                     int bitsPerSample, std::int16_t* out) {
  const MixWeights w = WeightsFor(channels);
  const int used = std::min(channels, 8);
  const float scale = std::ldexp(1.0f, 16 - bitsPerSample);
  for (std::uint32_t f = 0; f < frameCount; ++f) {
    float left = 0.0f;
    float right = 0.0f;
    for (int c = 0; c < used; ++c) {
      left += w.left[c] * static_cast<float>(planes[c][f]);
      right += w.right[c] * static_cast<float>(planes[c][f]);
    }
    out[2 * f] = ToSample(left * scale);
    out[2 * f + 1] = ToSample(right * scale);
  }
}

}  // namespace decoding
