#include "decoders/mad_decoder.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/decoders/fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
using decoding::MadDitherRecord;
using decoding::QuantizeMadSample;

struct Mp3Case {
  const char* name;
  int rate;
  int channels;
  std::uint32_t readBytes;  // every Read but the last
  std::uint32_t lastBytes;
  long delay;  // frames played before the reference's first: the Info/Xing frame and codec delays
};

void PrintTo(const Mp3Case& c, std::ostream* os) { *os << c.name; }

class Mp3Files : public ::testing::TestWithParam<Mp3Case> {};

TEST_P(Mp3Files, ReadSizesFormatAndPcmMatchTheReference) {
  const Mp3Case& c = GetParam();
  CMadDecoder::ResetDitherRecordsForTesting();
  CMadDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path(c.name)));
  EXPECT_EQ(decoder.GetSampleRate(), c.rate);
  EXPECT_EQ(decoder.GetBitsPerSample(), 16);
  EXPECT_EQ(decoder.GetChannels(), c.channels);
  std::vector<std::uint32_t> sizes;
  const auto pcm = DecodeAll(decoder, &sizes);
  ASSERT_GT(sizes.size(), 10u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
    ASSERT_EQ(sizes[i], c.readBytes) << "Read " << i;
  EXPECT_EQ(sizes.back(), c.lastBytes);

  // ffmpeg trims the encoder's delay and the Info frame; we play them.
  const Match m = Compare(pcm, Reference(c.name), c.channels, 3000);
  EXPECT_GT(m.snrDb, 40.0);
  EXPECT_EQ(m.shift, c.delay);
  EXPECT_LE(std::abs(m.extraFrames), 1152) << "shift " << m.shift;
}

INSTANTIATE_TEST_SUITE_P(
    Layer3, Mp3Files,
    ::testing::Values(Mp3Case{"cbr.mp3", 44100, 2, 4608, 4608, 2257},
                      Mp3Case{"vbr.mp3", 44100, 2, 4608, 4608, 2257},
                      Mp3Case{"r22050.mp3", 22050, 2, 2304, 2304, 1681},
                      // Pairs of 576-frame frames; the odd last one is still delivered.
                      Mp3Case{"r24000.mp3", 24000, 2, 4608, 2304, 1681},
                      Mp3Case{"mono.mp3", 44100, 1, 2304, 2304, 2257},
                      Mp3Case{"id3.mp3", 44100, 2, 4608, 4608, 2257}),
    [](const auto& info) {
      const std::string name = info.param.name;
      return name.substr(0, name.find('.'));
    });

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

}  // namespace
