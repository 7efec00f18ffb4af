#include "decoders/downmix.h"

#include <algorithm>
#include <cmath>

namespace decoding {
namespace {

enum class Side { kLeft, kRight, kBoth, kNone };

Side SideOf(Speaker s) {
  switch (s) {
    case Speaker::kFrontLeft:
    case Speaker::kBackLeft:
    case Speaker::kFrontLeftOfCentre:
    case Speaker::kSideLeft:
    case Speaker::kTopFrontLeft:
    case Speaker::kTopBackLeft:
      return Side::kLeft;
    case Speaker::kFrontRight:
    case Speaker::kBackRight:
    case Speaker::kFrontRightOfCentre:
    case Speaker::kSideRight:
    case Speaker::kTopFrontRight:
    case Speaker::kTopBackRight:
      return Side::kRight;
    case Speaker::kLowFrequency:
      return Side::kNone;
    default:
      return Side::kBoth;
  }
}

std::int16_t Clip(double value) {
  if (value >= 32767.0) return 32767;
  if (value <= -32768.0) return -32768;
  if (std::isnan(value)) return 0;
  return static_cast<std::int16_t>(std::lrint(value));
}

}  // namespace

std::vector<Speaker> DefaultLayout(int channels) {
  using S = Speaker;
  switch (channels) {
    case 1:
      return {S::kFrontCentre};
    case 2:
      return {S::kFrontLeft, S::kFrontRight};
    case 3:
      return {S::kFrontLeft, S::kFrontRight, S::kFrontCentre};
    case 4:
      return {S::kFrontLeft, S::kFrontRight, S::kBackLeft, S::kBackRight};
    case 5:
      return {S::kFrontLeft, S::kFrontRight, S::kFrontCentre, S::kBackLeft, S::kBackRight};
    case 6:
      return {S::kFrontLeft,    S::kFrontRight, S::kFrontCentre,
              S::kLowFrequency, S::kBackLeft,   S::kBackRight};
    case 7:
      return {S::kFrontLeft,  S::kFrontRight, S::kFrontCentre, S::kLowFrequency,
              S::kBackCentre, S::kSideLeft,   S::kSideRight};
    case 8:
      return {S::kFrontLeft, S::kFrontRight, S::kFrontCentre, S::kLowFrequency,
              S::kBackLeft,  S::kBackRight,  S::kSideLeft,    S::kSideRight};
    default: {
      std::vector<Speaker> layout;
      for (int c = 0; c < channels; ++c)
        layout.push_back(c % 2 == 0 ? S::kFrontLeft : S::kFrontRight);
      return layout;
    }
  }
}

StereoMix::StereoMix(const std::vector<Speaker>& layout)
    : left_(layout.size(), 0.0f), right_(layout.size(), 0.0f) {
  constexpr float kMinus3dB = 0.70710678f;
  float sumLeft = 0.0f;
  float sumRight = 0.0f;
  for (std::size_t c = 0; c < layout.size(); ++c) {
    const bool front = layout[c] == Speaker::kFrontLeft || layout[c] == Speaker::kFrontRight;
    const float level = front ? 1.0f : kMinus3dB;
    const Side side = SideOf(layout[c]);
    if (side == Side::kLeft || side == Side::kBoth) left_[c] = level;
    if (side == Side::kRight || side == Side::kBoth) right_[c] = level;
    sumLeft += left_[c];
    sumRight += right_[c];
  }
  for (std::size_t c = 0; c < layout.size(); ++c) {
    if (sumLeft > 0) left_[c] /= sumLeft;
    if (sumRight > 0) right_[c] /= sumRight;
  }
}

// Mixes frames whose samples sample(f, c) gives, scaled by scale into 16 bits.
template <typename SampleAt>
void StereoMix::MixFrames(std::uint32_t frames, double scale, SampleAt sample,
                          std::int16_t* out) const {
  const std::size_t channels = left_.size();
  for (std::uint32_t f = 0; f < frames; ++f) {
    double left = 0.0;
    double right = 0.0;
    for (std::size_t c = 0; c < channels; ++c) {
      const double v = sample(f, c);
      left += left_[c] * v;
      right += right_[c] * v;
    }
    out[2 * f] = Clip(left * scale);
    out[2 * f + 1] = Clip(right * scale);
  }
}

void StereoMix::Mix(const std::int16_t* in, std::uint32_t frames, std::int16_t* out) const {
  const std::size_t channels = left_.size();
  MixFrames(
      frames, 1.0, [&](std::uint32_t f, std::size_t c) { return in[f * channels + c]; }, out);
}

void StereoMix::Mix(const double* in, std::uint32_t frames, std::int16_t* out) const {
  const std::size_t channels = left_.size();
  MixFrames(
      frames, 32768.0, [&](std::uint32_t f, std::size_t c) { return in[f * channels + c]; }, out);
}

void StereoMix::Mix(const std::int32_t* const* planes, std::uint32_t frames, int bitsPerSample,
                    std::int16_t* out) const {
  MixFrames(
      frames, std::ldexp(1.0, 16 - bitsPerSample),
      [&](std::uint32_t f, std::size_t c) { return planes[c][f]; }, out);
}

std::int16_t FloatToSample(double value) { return Clip(value * 32768.0); }

}  // namespace decoding
