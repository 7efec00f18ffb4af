// A stream that changes format part-way, brought back to its output's format: channels
// mapped exactly, other rates resampled to the right length and pitch, the resampler
// drained at the end and before a part in the output's own rate. Then the stereo mix at
// its limits (full scale, in place, wide and narrow planes) and floats scaled to 16 bits;
// where each channel lands is the corpus's part (against ffmpeg's mix).
#include "decoders/format_converter.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "decoders/downmix.h"

namespace {

using decoding::FormatConverter;
using decoding::StereoMix;

std::vector<std::int16_t> Sine(int rate, int channels, long frames, double hz) {
  std::vector<std::int16_t> samples;
  for (long f = 0; f < frames; ++f) {
    const auto v =
        static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * M_PI * hz * f / rate)));
    for (int c = 0; c < channels; ++c) samples.push_back(v);
  }
  return samples;
}

// Pushes in decoder-sized pieces, then pulls everything.
void PushInPieces(FormatConverter& converter, const std::vector<std::int16_t>& samples, int rate,
                  int channels) {
  constexpr std::uint32_t kPiece = 1152;
  const auto frames = static_cast<std::uint32_t>(samples.size() / channels);
  for (std::uint32_t at = 0; at < frames; at += kPiece) {
    ASSERT_TRUE(converter.Push(samples.data() + at * channels, std::min(kPiece, frames - at), rate,
                               channels));
  }
}

std::vector<std::int16_t> PullAll(FormatConverter& converter, int channels) {
  std::vector<std::int16_t> out;
  std::int16_t block[1152 * 2];
  while (const std::uint32_t n = converter.Pull(block, 1152))
    out.insert(out.end(), block, block + n * channels);
  return out;
}

// Upward sign changes of the first channel.
long Cycles(const std::vector<std::int16_t>& samples, int channels) {
  long count = 0;
  for (std::size_t i = channels; i < samples.size(); i += channels)
    count += samples[i - channels] < 0 && samples[i] >= 0;
  return count;
}

TEST(FormatConverter, MapsChannelsExactlyAtTheOutputsRate) {
  FormatConverter toStereo(44100, 2);
  const std::int16_t mono[] = {100, -200, 32767};
  ASSERT_TRUE(toStereo.Push(mono, 3, 44100, 1));
  EXPECT_EQ(PullAll(toStereo, 2), (std::vector<std::int16_t>{100, 100, -200, -200, 32767, 32767}));
  EXPECT_TRUE(toStereo.Idle());

  FormatConverter toMono(44100, 1);
  const std::int16_t stereo[] = {100, 300, -32768, -32768, 32767, -32768, 7, 0};
  ASSERT_TRUE(toMono.Push(stereo, 4, 44100, 2));
  EXPECT_EQ(PullAll(toMono, 1), (std::vector<std::int16_t>{200, -32768, 0, 3}));
  EXPECT_FALSE(toMono.Push(stereo, 1, 44100, 6)) << "only one or two channels are taken";
  EXPECT_TRUE(toMono.Idle());
}

// A second of 1 kHz in another rate (and channel count) comes out a second long at
// the output's rate, still at 1 kHz: nothing is left in the resampler at the end.
TEST(FormatConverter, ResamplesToTheSameLengthAndPitch) {
  const struct {
    int fromRate, fromChannels, toRate, toChannels;
  } rows[] = {{.fromRate = 48000, .fromChannels = 2, .toRate = 44100, .toChannels = 2},
              {.fromRate = 22050, .fromChannels = 1, .toRate = 44100, .toChannels = 2},
              {.fromRate = 8000, .fromChannels = 1, .toRate = 48000, .toChannels = 1},
              {.fromRate = 44100, .fromChannels = 2, .toRate = 22050, .toChannels = 1},
              {.fromRate = 32000, .fromChannels = 2, .toRate = 48000, .toChannels = 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.fromRate) + " Hz to " + std::to_string(row.toRate) + " Hz");
    FormatConverter converter(row.toRate, row.toChannels);
    PushInPieces(converter, Sine(row.fromRate, row.fromChannels, row.fromRate, 1000), row.fromRate,
                 row.fromChannels);
    EXPECT_FALSE(converter.Idle());
    converter.Finish();
    const auto out = PullAll(converter, row.toChannels);
    EXPECT_NEAR(static_cast<long>(out.size()) / row.toChannels, row.toRate, 1);
    EXPECT_NEAR(Cycles(out, row.toChannels), 1000, 1);
    EXPECT_TRUE(converter.Idle());
  }
}

// A part in the output's own rate after one in another: the resampler gives up
// everything it holds first, then the part follows unchanged.
TEST(FormatConverter, DrainsTheResamplerBeforeAPartInTheOutputsRate) {
  FormatConverter converter(44100, 2);
  PushInPieces(converter, Sine(48000, 2, 48000, 1000), 48000, 2);
  const auto back = Sine(44100, 2, 4410, 500);
  PushInPieces(converter, back, 44100, 2);
  const auto out = PullAll(converter, 2);
  EXPECT_TRUE(converter.Idle());
  ASSERT_NEAR(static_cast<long>(out.size()) / 2, 44100 + 4410, 1);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), out.end() - static_cast<long>(back.size())))
      << "the part in the output's rate is played as it came, after the other";
}

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
