#include "decoders/ogg_vorbis_decoder.h"

#include <gtest/gtest.h>

#include "tests/decoders/fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
using testing_support::MessageBoxRecorder;
using testing_support::Narrow;

class OggFiles : public ::testing::TestWithParam<int> {};

TEST_P(OggFiles, FillsEveryBlockAndMatchesTheReference) {
  const int channels = GetParam();
  const std::string name = channels == 1 ? "mono.ogg" : "stereo.ogg";
  COggVorbisDecoder decoder;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(OpenPath(decoder, Path(name)));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "samplerate=44100\nchannels=" + std::to_string(channels) + "\n");
  EXPECT_EQ(decoder.GetSampleRate(), 44100);
  EXPECT_EQ(decoder.GetBitsPerSample(), 16);
  EXPECT_EQ(decoder.GetChannels(), channels);
  std::vector<std::uint32_t> sizes;
  const auto pcm = DecodeAll(decoder, &sizes);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], 4608u) << "Read " << i;
  EXPECT_EQ(sizes.back(), pcm.size() * 2 % 4608 == 0 ? 4608 : pcm.size() * 2 % 4608);
  const Match m = Compare(pcm, Reference(name), channels, 2048);
  EXPECT_GT(m.snrDb, 60.0);
  EXPECT_LE(std::abs(m.extraFrames), 1152);
  EXPECT_EQ(pcm.size() / channels, 88200u)
      << "the encoder's length, as the stream's granule positions give it";
}

INSTANTIATE_TEST_SUITE_P(Channels, OggFiles, ::testing::Values(1, 2));

TEST(OggDecoder, DamagedPagesAreReportedOnceEachAndDecodingGoesOn) {
  COggVorbisDecoder clean;
  COggVorbisDecoder damaged;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(OpenPath(clean, Path("stereo.ogg")));
  ASSERT_TRUE(OpenPath(damaged, Path("damaged.ogg")));
  ::testing::internal::GetCapturedStdout();
  const auto good = DecodeAll(clean);
  std::vector<std::uint32_t> sizes;
  ::testing::internal::CaptureStderr();
  const auto pcm = DecodeAll(damaged, &sizes);
  const std::string log = ::testing::internal::GetCapturedStderr();
  const std::string line = "Hole in OGG/VORBIS datastream, ignoring...\n";
  ASSERT_GE(log.size(), line.size());
  EXPECT_EQ(log.substr(0, line.size()), line);
  EXPECT_EQ(log.size() % line.size(), 0u) << log;
  EXPECT_LE(log.size() / line.size(), 3u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], 4608u) << "Read " << i;
  // Only the damaged stretch is lost: the end of the file plays as in the clean one.
  EXPECT_LT(pcm.size(), good.size());
  EXPECT_GT(pcm.size(), good.size() / 2);
  EXPECT_TRUE(std::equal(pcm.end() - 20000, pcm.end(), good.end() - 20000));
}

}  // namespace
