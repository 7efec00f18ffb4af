// A stream that changes format part-way, brought back to its output's format: channels
// mapped exactly, other rates resampled to the right length and pitch, the resampler
// drained at the end and before a part in the output's own rate.
#include "decoders/format_converter.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace {

using decoding::FormatConverter;

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

}  // namespace
