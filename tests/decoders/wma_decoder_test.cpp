#include "decoders/wma_decoder.h"

#include <future>

#include <gtest/gtest.h>

#include "platform/com/com.h"
#include "tests/decoders/ape_wma_fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace ape_wma_fixtures;
using testing_support::MessageBoxRecorder;
using testing_support::Narrow;

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
  ASSERT_FALSE(path.empty());
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

struct BadWma {
  const char* label;
  const char* fixture;  // null: a missing file
  const char* message;
};

class WmaBadFiles : public ::testing::TestWithParam<BadWma> {};

TEST_P(WmaBadFiles, ShowTheirOneMessageAndReadNothing) {
  const BadWma& c = GetParam();
  const std::string path =
      c.fixture != nullptr ? Path(c.fixture) : testing_support::TempPath("no-such.wma");
  ASSERT_FALSE(path.empty());
  MessageBoxRecorder boxes;
  CWMADecoder decoder;
  const int filesBefore = OpenFileCount();
  EXPECT_FALSE(OpenPath(decoder, path));
  EXPECT_EQ(OpenFileCount(), filesBefore) << "a failed open closes both of its opens of the file";
  ASSERT_EQ(boxes.Count(), 1u) << "no second box (the file stream's own) for a missing file";
  EXPECT_EQ(Narrow(boxes.Boxes()[0].text), c.message);
  EXPECT_EQ(Narrow(boxes.Boxes()[0].caption), "Error");
  EXPECT_EQ(boxes.Boxes()[0].flags, 0x30u);
  EXPECT_EQ(decoder.GetSampleRate(), 0);
  std::uint8_t block[4608];
  EXPECT_EQ(decoder.Read(block, sizeof(block)), 0u);
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0) << "a failed open leaves COM as it found it";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WmaBadFiles,
    ::testing::Values(BadWma{"missing", nullptr, "Can't open file."},
                      BadWma{"video_only", "video-only.wma", "No audio data exist in this file."},
                      BadWma{"text", "text.wma", "No audio data exist in this file."},
                      BadWma{"ape_inside", "ape-44100-1-16.ape",
                             "No audio data exist in this file."}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WmaDecoder, TruncatedFilePlaysAPrefixAndEnds) {
  const std::string path = Path("cut-wmav2-44100-2.wma");
  ASSERT_FALSE(path.empty());
  MessageBoxRecorder boxes;
  CWMADecoder decoder;
  if (!OpenPath(decoder, path)) {
    EXPECT_EQ(boxes.Count(), 1u);
    return;
  }
  const auto pcm = DecodeAll(decoder);
  const auto whole = Reference("wmav2-44100-2.wma");
  EXPECT_GT(pcm.size(), 0u);
  EXPECT_LT(pcm.size(), whole.size());
}

TEST(WmaDecoder, SeveralAudioOutputsReportTheChosenOnesFormat) {
  const std::string path = Path("two-audio.wma");
  ASSERT_FALSE(path.empty());
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

TEST(WmaDecoder, SecondOpenOfTheSameObjectWorks) {
  CWMADecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path("wmav2-22050-1.wma")));
  std::uint8_t block[4608];
  EXPECT_GT(decoder.Read(block, sizeof(block)), 0u);
  decoder.Close();
  EXPECT_EQ(decoder.Read(block, sizeof(block)), 0u);
  ASSERT_NE(decoder.Open(), 0) << "Close freed the reader context; Open makes a new one";
  EXPECT_EQ(DecodeAll(decoder).size(), Reference("wmav2-22050-1.wma").size());
}

}  // namespace
