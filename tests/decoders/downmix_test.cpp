#include "decoders/downmix.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

using decoding::Speaker;
using decoding::StereoMix;

// Where one channel of a layout lands: its weights on the left and right, written
// out from the rule (fronts 1, others 0.7071, LFE 0; each side divided by its sum).
struct Placement {
  const char* layout;
  std::vector<Speaker> speakers;
  int channel;
  float left;
  float right;
};

void PrintTo(const Placement& p, std::ostream* os) { *os << p.layout << " channel " << p.channel; }

class ChannelPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(ChannelPlacement, SoundsOnItsOwnSideAtItsOwnLevel) {
  const Placement& p = GetParam();
  const StereoMix mix(p.speakers);
  // One channel sounding alone, as a test tone on a surround system would.
  std::vector<std::int16_t> frame(p.speakers.size(), 0);
  frame[p.channel] = 20000;
  std::int16_t out[2];
  mix.Mix(frame.data(), 1, out);
  EXPECT_NEAR(out[0], 20000 * p.left, 1.0) << "left";
  EXPECT_NEAR(out[1], 20000 * p.right, 1.0) << "right";
}

const auto k30 = decoding::DefaultLayout(3);
const auto kQuad = decoding::DefaultLayout(4);
const auto k51 = decoding::DefaultLayout(6);
const auto k71 = decoding::DefaultLayout(8);
const auto k16 = decoding::DefaultLayout(16);
const std::vector<Speaker> k31 = {Speaker::kFrontLeft, Speaker::kFrontRight, Speaker::kFrontCentre,
                                  Speaker::kLowFrequency};

INSTANTIATE_TEST_SUITE_P(
    Layouts, ChannelPlacement,
    ::testing::Values(
        // L R C: each side 1 + 0.7071.
        Placement{"3.0", k30, 0, 0.5858f, 0}, Placement{"3.0", k30, 1, 0, 0.5858f},
        Placement{"3.0", k30, 2, 0.4142f, 0.4142f},
        // FL FR BL BR.
        Placement{"quad", kQuad, 2, 0.4142f, 0}, Placement{"quad", kQuad, 3, 0, 0.4142f},
        // FL FR C LFE BL BR: each side 1 + 2 * 0.7071.
        Placement{"5.1", k51, 0, 0.4142f, 0}, Placement{"5.1", k51, 1, 0, 0.4142f},
        Placement{"5.1", k51, 2, 0.2929f, 0.2929f}, Placement{"5.1", k51, 3, 0, 0},
        Placement{"5.1", k51, 4, 0.2929f, 0}, Placement{"5.1", k51, 5, 0, 0.2929f},
        // FL FR C LFE BL BR SL SR: each side 1 + 3 * 0.7071.
        Placement{"7.1", k71, 4, 0.2265f, 0}, Placement{"7.1", k71, 5, 0, 0.2265f},
        Placement{"7.1", k71, 6, 0.2265f, 0}, Placement{"7.1", k71, 7, 0, 0.2265f},
        // A declared 3.1 is not quad: its third channel is the centre, its fourth the LFE.
        Placement{"3.1", k31, 2, 0.4142f, 0.4142f}, Placement{"3.1", k31, 3, 0, 0},
        // Sixteen channels: every one counts, eight a side.
        Placement{"16", k16, 0, 0.125f, 0}, Placement{"16", k16, 9, 0, 0.125f},
        Placement{"16", k16, 14, 0.125f, 0}, Placement{"16", k16, 15, 0, 0.125f}),
    [](const auto& info) {
      std::string name = std::string(info.param.layout) + "_" + std::to_string(info.param.channel);
      for (char& c : name) {
        if (c == '.') c = '_';
      }
      return name;
    });

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
