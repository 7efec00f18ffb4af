#include "decoders/wma_decoder.h"

#include <future>

#include <gtest/gtest.h>

#include "platform/com/com.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
using testing_support::MessageBoxRecorder;

struct WmaCase {
  const char* codec;
  int rate;
  int channels;
};

std::string NameOf(const WmaCase& c) {
  return std::string(c.codec) + "-" + std::to_string(c.rate) + "-" + std::to_string(c.channels) +
         ".wma";
}

class WmaFiles : public ::testing::TestWithParam<WmaCase> {};

TEST_P(WmaFiles, Deliver16BitPcmMatchingFfmpegsDecode) {
  const WmaCase& c = GetParam();
  const std::string path = Path(NameOf(c));
  MessageBoxRecorder boxes;
  CWMADecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, path));
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(decoder.GetSampleRate(), c.rate);
  EXPECT_EQ(decoder.GetBitsPerSample(), 16) << "16-bit PCM is chosen over 8-bit";
  EXPECT_EQ(decoder.GetChannels(), c.channels);
  const double seconds = static_cast<double>(decoder.Duration()) / 1e7;
  EXPECT_NEAR(seconds, static_cast<double>(kFrames) / c.rate, 0.2) << "the Duration attribute";
  std::vector<std::uint32_t> sizes;
  const auto pcm = DecodeAll(decoder, &sizes);
  const std::uint32_t want = c.rate == 22050 ? 2304 : 4608;
  ASSERT_FALSE(sizes.empty());
  for (std::uint32_t n : sizes) ASSERT_LE(n, want);
  if (c.channels == 2) {
    // A stereo frame of the codec is longer than one read, so full reads show.
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), want), sizes.end());
  }
  const auto reference = Reference(NameOf(c));
  ASSERT_EQ(pcm.size(), reference.size());
  EXPECT_LE(MaxDifference(pcm, reference), 1) << "within one step of ffmpeg's own decode";
}

INSTANTIATE_TEST_SUITE_P(Codecs, WmaFiles,
                         ::testing::Values(WmaCase{"wmav2", 44100, 2}, WmaCase{"wmav1", 44100, 2},
                                           WmaCase{"wmav2", 22050, 2}, WmaCase{"wmav1", 22050, 1},
                                           WmaCase{"wmav2", 44100, 1}),
                         [](const auto& info) {
                           return std::string(info.param.codec) + "_" +
                                  std::to_string(info.param.rate) + "Hz_" +
                                  std::to_string(info.param.channels) + "ch";
                         });

TEST(WmaDecoder, SeveralAudioOutputsReportTheChosenOnesFormat) {
  const std::string path = Path("two-audio.wma");
  CWMADecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, path));
  // The later output with as many bits wins; its own rate and channels are reported.
  EXPECT_EQ(decoder.GetSampleRate(), 44100);
  EXPECT_EQ(decoder.GetChannels(), 2);
  const auto pcm = DecodeAll(decoder);
  EXPECT_LE(MaxDifference(pcm, Reference("two-audio.wma")), 1);
}

TEST(WmaDecoder, ComIsPairedOnTheOpeningAndTheReadingThread) {
  auto decoder = std::make_unique<CWMADecoder>();
  ASSERT_TRUE(OpenPath(*decoder, Path("wmav2-22050-2.wma")));
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0);
  auto playback = std::async(std::launch::async, [&] {
    std::uint8_t block[4608];
    const std::uint32_t first = decoder->Read(block, sizeof(block));
    const int during = platform::com::CoInitializeDepth();
    decoder.reset();
    return std::make_tuple(first, during, platform::com::CoInitializeDepth());
  });
  const auto [first, during, after] = playback.get();
  EXPECT_GT(first, 0u);
  EXPECT_EQ(during, 1) << "initialised for reading";
  EXPECT_EQ(after, 0) << "and undone by the destruction on the same thread";
}

}  // namespace
