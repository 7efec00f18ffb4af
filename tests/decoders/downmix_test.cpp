// The stereo mix at its limits: full scale on every channel, in place, from wide
// planes; and float samples scaled to 16 bits. Where each channel of each layout
// lands (3.0, quad, 3.1, 5.1, 7.1, 16 channels) is checked by the corpus, whose
// many-channel files play against ffmpeg's mix with the same weights.
#include "decoders/downmix.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

using decoding::StereoMix;

TEST(StereoMix, FullScaleOnEveryChannelGivesFullScaleWithoutClipping) {
  for (int channels : {3, 4, 5, 6, 7, 8, 12, 16}) {
    const StereoMix mix(decoding::DefaultLayout(channels));
    const std::vector<std::int16_t> loud(channels, -32768);
    std::int16_t out[2];
    mix.Mix(loud.data(), 1, out);
    EXPECT_EQ(out[0], -32768) << channels << " channels";
    const std::vector<double> floats(channels, 1.0);
    mix.Mix(floats.data(), 1, out);
    EXPECT_EQ(out[0], 32767) << channels << " channels";
  }
}

TEST(StereoMix, MixesInPlaceAndScalesWideSamples) {
  std::vector<std::int16_t> samples;
  for (int f = 0; f < 100; ++f) {
    const auto v = static_cast<std::int16_t>(1000 + f);
    samples.insert(samples.end(), {v, static_cast<std::int16_t>(-v), 0, 0});
  }
  const StereoMix mix(decoding::DefaultLayout(4));
  mix.Mix(samples.data(), 100, samples.data());
  for (int f = 0; f < 100; ++f) {
    ASSERT_NEAR(samples[2 * f], (1000 + f) * 0.5858f, 1.0) << f;
    ASSERT_NEAR(samples[2 * f + 1], -(1000 + f) * 0.5858f, 1.0) << f;
  }
  // 24-bit planes: full scale stays full scale.
  const std::vector<std::int32_t> plane(3, 8388607);
  const std::int32_t* planes[] = {plane.data(), plane.data(), plane.data()};
  std::int16_t out[6];
  StereoMix(decoding::DefaultLayout(3)).Mix(planes, 3, 24, out);
  EXPECT_EQ(out[5], 32767);
}

TEST(FloatToSample, OneIsFullScaleForEveryFile) {
  const struct {
    double in;
    std::int16_t out;
  } rows[] = {{0.0, 0},       {0.5, 16384},
              {-0.5, -16384}, {1.0, 32767},
              {-1.0, -32768}, {1.7, 32767},
              {-4.0, -32768}, {1.0 / 32768, 1},
              {1e-9, 0},      {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& r : rows) EXPECT_EQ(decoding::FloatToSample(r.in), r.out) << r.in;
}

}  // namespace
