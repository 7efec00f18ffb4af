// Folds many channels into stereo. Every channel goes by its speaker position:
// left-hand speakers to the left, right-hand ones to the right, centres to both,
// the low-frequency channel nowhere (small speakers cannot use it). The front
// pair counts at full level, every other channel at -3 dB, and each side's
// weights are then scaled to sum to 1, so that full scale on every channel
// cannot clip.
#pragma once

#include <cstdint>
#include <vector>

namespace decoding {

// Speaker positions, in the order of the WAVE channel mask's bits.
enum class Speaker : std::uint8_t {
  kFrontLeft,
  kFrontRight,
  kFrontCentre,
  kLowFrequency,
  kBackLeft,
  kBackRight,
  kFrontLeftOfCentre,
  kFrontRightOfCentre,
  kBackCentre,
  kSideLeft,
  kSideRight,
  kTopCentre,
  kTopFrontLeft,
  kTopFrontCentre,
  kTopFrontRight,
  kTopBackLeft,
  kTopBackCentre,
  kTopBackRight,
  kUnknown,  // mixed like a centre
};

// The positions of a file that declares none: the WAVE and FLAC defaults up to
// eight channels (L R C; quad; 5.0; 5.1; 6.1; 7.1). Beyond eight no layout is
// standard, and the channels alternate left and right at one level.
std::vector<Speaker> DefaultLayout(int channels);

class StereoMix {
 public:
  StereoMix() = default;
  explicit StereoMix(const std::vector<Speaker>& layout);

  int Channels() const { return static_cast<int>(left_.size()); }
  float LeftWeight(int channel) const { return left_[channel]; }
  float RightWeight(int channel) const { return right_[channel]; }

  // Mixes `frames` frames of interleaved samples into stereo frames. in and out
  // may be the same buffer: a stereo frame is never longer than its source.
  void Mix(const std::int16_t* in, std::uint32_t frames, std::int16_t* out) const;
  // Floating-point samples, 1.0 being full scale.
  void Mix(const double* in, std::uint32_t frames, std::int16_t* out) const;
  // Planar integer samples bitsPerSample wide.
  void Mix(const std::int32_t* const* planes, std::uint32_t frames, int bitsPerSample,
           std::int16_t* out) const;

 private:
  template <typename SampleAt>
  void MixFrames(std::uint32_t frames, double scale, SampleAt sample, std::int16_t* out) const;

  std::vector<float> left_;
  std::vector<float> right_;
};

// A 16-bit sample from a floating-point one: 1.0 is 32768, clipped to the
// 16-bit range, rounded to nearest; NaN is silence. The same for every file, so
// a quiet recording stays quiet and a hot one clips.
std::int16_t FloatToSample(double value);

}  // namespace decoding
