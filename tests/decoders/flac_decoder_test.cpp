#include "decoders/flac_decoder.h"

#include <cstring>

#include <gtest/gtest.h>

#include "decoders/downmix.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
using testing_support::MessageBoxRecorder;
using testing_support::Narrow;

// Interleaved 16-bit stereo mixed from the 6-channel source.
std::vector<std::int16_t> SixToStereo() {
  const auto six = WavSamples("six.wav");
  std::vector<std::int16_t> stereo(six.size() / 3);
  decoding::DownmixToStereo(six.data(), static_cast<std::uint32_t>(six.size() / 6), 6,
                            stereo.data());
  return stereo;
}

struct FlacCase {
  const char* file;
  const char* source;  // what the decoder must deliver, as 16-bit WAV samples
  int channels;
  bool reference;  // also bit-exact against ffmpeg's decode
};

void PrintTo(const FlacCase& c, std::ostream* os) { *os << c.file; }

class FlacFiles : public ::testing::TestWithParam<FlacCase> {};

TEST_P(FlacFiles, DeliverExact16BitFramesIn576FrameReads) {
  const FlacCase& c = GetParam();
  CFLACDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path(c.file)));
  EXPECT_EQ(decoder.GetSampleRate(), 44100);
  EXPECT_EQ(decoder.GetBitsPerSample(), 16) << "every sample size is delivered as 16 bits";
  EXPECT_EQ(decoder.GetChannels(), c.channels);
  std::vector<std::uint32_t> sizes;
  const auto pcm = DecodeAll(decoder, &sizes);
  const auto expected = std::string(c.source) == "six" ? SixToStereo() : WavSamples(c.source);
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(pcm == expected) << pcm.size() << " samples, expected " << expected.size();
  if (c.reference) {
    EXPECT_TRUE(pcm == Reference(c.file)) << "ffmpeg decodes it otherwise";
  }
  const std::uint32_t block = 576u * c.channels * 2;
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], block) << "Read " << i;
  const auto rest = static_cast<std::uint32_t>(pcm.size() * 2 % block);
  EXPECT_EQ(sizes.back(), rest == 0 ? block : rest);
}

INSTANTIATE_TEST_SUITE_P(Formats, FlacFiles,
                         ::testing::Values(FlacCase{"s16.flac", "s44.wav", 2, true},
                                           FlacCase{"u8.flac", "u8.wav", 2, true},
                                           FlacCase{"b24.flac", "b24.wav", 2, true},
                                           FlacCase{"b12.flac", "top12.wav", 2, false},
                                           FlacCase{"b20.flac", "s44.wav", 2, false},
                                           FlacCase{"b32.flac", "s44.wav", 2, false},
                                           FlacCase{"six.flac", "six", 2, false}),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(FlacDecoder, FramesOf4096AreHandedOutIn576FrameSteps) {
  CFLACDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path("b4096.flac")));
  char block[16000];
  // One frame decoded, then seven Reads from it; the eighth joins 64 old frames to 512 new.
  const std::uint32_t held[] = {3520, 2944, 2368, 1792, 1216, 640, 64, 4096 + 64 - 576};
  for (std::uint32_t expected : held) {
    ASSERT_EQ(decoder.Read(block, sizeof(block)), 2304u);
    EXPECT_EQ(decoder.HeldFrames(), expected);
  }
  decoder.Close();
  ASSERT_TRUE(OpenPath(decoder, Path("s16.flac")));
  EXPECT_EQ(decoder.HeldFrames(), 0u) << "a new file starts with an empty reservoir";
}

}  // namespace
