// The stereo mix at its limits (full scale, in place, wide and narrow planes) and floats
// scaled to 16 bits. Where each channel lands is the corpus's part (against ffmpeg's mix).
#include "decoders/downmix.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

using decoding::StereoMix;

TEST(StereoMix, FullScaleOnEveryChannelGivesFullScaleOnBothSidesWithoutClipping) {
  using S = decoding::Speaker;
  std::vector<std::vector<S>> layouts;
  for (int channels : {3, 4, 5, 6, 7, 8, 12, 16})
    layouts.push_back(decoding::DefaultLayout(channels));
  // More speakers on the left than on the right: each side is scaled by its own sum.
  layouts.push_back({S::kFrontLeft, S::kFrontRight, S::kBackLeft, S::kSideLeft});
  for (const auto& layout : layouts) {
    const auto channels = layout.size();
    const StereoMix mix(layout);
    const std::vector<std::int16_t> loud(channels, -32768);
    const std::vector<double> floats(channels, 1.0);
    std::int16_t low[2], high[2];
    mix.Mix(loud.data(), 1, low);
    mix.Mix(floats.data(), 1, high);
    EXPECT_TRUE(low[0] == -32768 && low[1] == -32768 && high[0] == 32767 && high[1] == 32767)
        << channels << " channels: " << low[0] << " " << low[1] << " " << high[0] << " " << high[1];
  }
}

TEST(StereoMix, MixesInPlace) {
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
}

// Planes of any width come to 16 bits by their width; a lone centre goes to both
// sides at full level.
TEST(StereoMix, ScalesPlanesByTheirWidth) {
  const struct {
    int bits;
    std::int32_t in;
    std::int16_t out;
  } rows[] = {
      {.bits = 24, .in = 8388607, .out = 32767},    {.bits = 24, .in = 0x123456, .out = 0x1234},
      {.bits = 20, .in = -0x12345, .out = -0x1234}, {.bits = 16, .in = -1234, .out = -1234},
      {.bits = 8, .in = -100, .out = -25600},       {.bits = 8, .in = 127, .out = 32512}};
  const StereoMix mix(decoding::DefaultLayout(1));
  for (const auto& r : rows) {
    const std::int32_t* planes[] = {&r.in};
    std::int16_t out[2];
    mix.Mix(planes, 1, r.bits, out);
    EXPECT_TRUE(out[0] == r.out && out[1] == r.out)
        << r.bits << " bits: " << r.in << " gave " << out[0] << " " << out[1];
  }
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
