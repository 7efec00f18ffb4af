#include "decoders/downmix.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Downmix, FiveOneKeepsFrontsApartAndNeverClips) {
  // L R C LFE Ls Rs, all at full scale: the mix stays inside the 16-bit range.
  std::vector<std::int16_t> frame = {32767, 32767, 32767, 32767, 32767, 32767};
  std::int16_t out[2];
  decoding::DownmixToStereo(frame.data(), 1, 6, out);
  EXPECT_LE(out[0], 32767);
  EXPECT_GT(out[0], 30000);
  EXPECT_EQ(out[0], out[1]);
  // Only the left front sounds: it lands on the left side only.
  frame = {20000, 0, 0, 0, 0, 0};
  decoding::DownmixToStereo(frame.data(), 1, 6, out);
  EXPECT_GT(out[0], 0);
  EXPECT_EQ(out[1], 0);
  // LFE alone is dropped.
  frame = {0, 0, 0, 20000, 0, 0};
  decoding::DownmixToStereo(frame.data(), 1, 6, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
}

TEST(Downmix, InPlaceOverManyFrames) {
  std::vector<std::int16_t> samples;
  for (int f = 0; f < 100; ++f) {
    for (int c = 0; c < 4; ++c) samples.push_back(static_cast<std::int16_t>(c == 0 ? f * 100 : c == 1 ? -f * 100 : 0));
  }
  decoding::DownmixToStereo(samples.data(), 100, 4, samples.data());
  for (int f = 0; f < 100; ++f) {
    EXPECT_GE(samples[2 * f], 0);
    EXPECT_LE(samples[2 * f + 1], 0);
    EXPECT_EQ(samples[2 * f], -samples[2 * f + 1]) << f;
  }
}

TEST(Downmix, WideSamplesAreScaledTo16Bits) {
  std::vector<std::int32_t> left = {8388607, -8388608, 0};
  std::vector<std::int32_t> right = {0, 0, 4194304};
  const std::int32_t* planes[] = {left.data(), right.data()};
  std::int16_t out[6];
  decoding::DownmixToStereo(planes, 3, 2, 24, out);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[2], -32768);
  EXPECT_EQ(out[5], 16384);
}
