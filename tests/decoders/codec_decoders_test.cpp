// What only one of MP3, Ogg Vorbis and FLAC does: damaged input, MP3's dither,
// FLAC's frame reservoir. (What every decoder does is in decoder_contract_test.)
#include <algorithm>

#include <gtest/gtest.h>

#include "decoders/flac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "tests/decoders/fixtures.h"

namespace {

using namespace fixtures;
using decoding::MadDitherRecord;
using decoding::QuantizeMadSample;

TEST(Mp3Decoder, CorruptFrameInTheMiddleIsSkipped) {
  CMadDecoder clean;
  CMadDecoder corrupt;
  ASSERT_TRUE(OpenPath(clean, Path("cbr.mp3")));
  ASSERT_TRUE(OpenPath(corrupt, Path("corrupt.mp3")));
  const auto good = DecodeAll(clean);
  const auto damaged = DecodeAll(corrupt);
  // A few frames are lost around the damage; the rest of the file still plays.
  EXPECT_GT(damaged.size(), good.size() - 8 * 2304);
  EXPECT_LE(damaged.size(), good.size());
  const Match tail(Compare(std::vector<std::int16_t>(damaged.end() - 40000, damaged.end()),
                           std::vector<std::int16_t>(good.end() - 40000, good.end()), 2, 100));
  EXPECT_GT(tail.snrDb, 40.0);
}

TEST(Mp3Quantizer, ClipsWithoutWrapping) {
  MadDitherRecord d;
  for (std::int32_t s : {0x10000000, 0x0FFFFFFF + 4096, 0x7FFFFFFF, 0x40000000}) {
    for (int i = 0; i < 100; ++i) ASSERT_EQ(QuantizeMadSample(s, d), 32767) << std::hex << s;
  }
  for (std::int32_t s : {-0x10000000, -0x10000000 - 4096, INT32_MIN, -0x40000000}) {
    for (int i = 0; i < 100; ++i) {
      const int q = QuantizeMadSample(s, d);
      ASSERT_TRUE(q == -32768 || q == -32767) << std::hex << s << " gave " << q;
    }
  }
}

TEST(Mp3Quantizer, DitherRecordsAreSharedAcrossDecodersUntilReset) {
  auto decode = [] {
    CMadDecoder decoder;
    EXPECT_TRUE(OpenPath(decoder, Path("silence.mp3")));
    return DecodeAll(decoder);
  };
  CMadDecoder::ResetDitherRecordsForTesting();
  const auto first = decode();
  const auto second = decode();
  CMadDecoder::ResetDitherRecordsForTesting();
  EXPECT_EQ(decode(), first);
  EXPECT_NE(second, first) << "the second file carries on from the first file's records";
  ASSERT_FALSE(first.empty());
  const auto zeros = std::count(first.begin(), first.end(), 0);
  EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](int v) { return v >= -2 && v <= 2; }));
  EXPECT_GT(zeros, static_cast<long>(first.size()) * 4 / 10);
  EXPECT_LT(zeros, static_cast<long>(first.size()) * 6 / 10);
}

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
