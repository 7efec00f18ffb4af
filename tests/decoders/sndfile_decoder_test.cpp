#include "decoders/sndfile_decoder.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <filesystem>

#include "platform/kernel/text.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace testing_support;

std::vector<std::uint8_t> ReadAll(CDecoder& decoder, std::vector<std::uint32_t>* sizes = nullptr) {
  std::vector<std::uint8_t> all;
  std::uint8_t block[16000];
  for (std::uint32_t n; (n = decoder.Read(block, sizeof(block))) != 0;) {
    EXPECT_LE(n, CDecoder::kMaxReadBytes);
    all.insert(all.end(), block, block + n);
    if (sizes != nullptr) sizes->push_back(n);
  }
  return all;
}

bool OpenPath(CSndFileDecoder& decoder, const std::string& path) {
  const std::u16string wide = platform::FromUtf8(path);
  decoder.SetFile(wide.c_str());
  return decoder.Open() != 0;
}

struct PcmCase {
  int rate;
  int channels;
};

class WavPcm16 : public ::testing::TestWithParam<PcmCase> {};

TEST_P(WavPcm16, DeliversTheFileBytesInBlocksOf4608) {
  const auto [rate, channels] = GetParam();
  const int frames = 5000;
  const auto samples = MakeTestSignal(rate, channels, frames);
  const std::string path = TempPath("pcm16-" + std::to_string(rate) + "-" + std::to_string(channels) + ".wav");
  ASSERT_TRUE(WriteSoundFile(path, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
  CSndFileDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, path));
  EXPECT_EQ(decoder.GetSampleRate(), rate);
  EXPECT_EQ(decoder.GetBitsPerSample(), 16);
  EXPECT_EQ(decoder.GetChannels(), channels);
  std::vector<std::uint32_t> sizes;
  EXPECT_EQ(ReadAll(decoder, &sizes), ToBytes(samples));
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 4608u);
  EXPECT_EQ(sizes.back(), (frames * channels * 2) % 4608);
}

INSTANTIATE_TEST_SUITE_P(Rates, WavPcm16,
                         ::testing::Values(PcmCase{44100, 2}, PcmCase{44100, 1}, PcmCase{48000, 2},
                                           PcmCase{22050, 1}, PcmCase{8000, 2}));

struct FormatCase {
  const char* name;
  int format;
  int tolerance;  // in 16-bit steps: what the file's own precision allows
};

class WavOtherFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(WavOtherFormats, AreDeliveredAs16BitSamples) {
  const FormatCase& c = GetParam();
  const auto samples = MakeTestSignal(44100, 2, 3000);
  const std::string path = TempPath(std::string("fmt-") + c.name + ".wav");
  ASSERT_TRUE(WriteSoundFile(path, 44100, 2, SF_FORMAT_WAV | c.format, samples));
  CSndFileDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, path));
  EXPECT_EQ(decoder.GetBitsPerSample(), 16);
  const auto bytes = ReadAll(decoder);
  ASSERT_EQ(bytes.size(), samples.size() * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto got = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    ASSERT_NEAR(got, samples[i], c.tolerance) << c.name << " sample " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, WavOtherFormats,
                         ::testing::Values(FormatCase{"u8", SF_FORMAT_PCM_U8, 256}, FormatCase{"s24", SF_FORMAT_PCM_24, 0},
                                           FormatCase{"s32", SF_FORMAT_PCM_32, 0}, FormatCase{"float", SF_FORMAT_FLOAT, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WavDecoder, SixChannelsAreMixedToStereo) {
  const auto samples = MakeTestSignal(48000, 6, 4000);
  const std::string path = TempPath("six.wav");
  ASSERT_TRUE(WriteSoundFile(path, 48000, 6, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
  CSndFileDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, path));
  EXPECT_EQ(decoder.GetChannels(), 2);
  std::vector<std::uint32_t> sizes;
  const auto bytes = ReadAll(decoder, &sizes);
  EXPECT_EQ(bytes.size(), 4000u * 4);
  EXPECT_EQ(sizes.front(), 4608u);
}

TEST(WavDecoder, MissingFileShowsOneErrorAndReadsNothing) {
  MessageBoxRecorder boxes;
  CSndFileDecoder decoder;
  EXPECT_FALSE(OpenPath(decoder, TempPath("no-such-file.wav")));
  ASSERT_EQ(boxes.Count(), 1u);
  const auto box = boxes.Boxes()[0];
  EXPECT_EQ(Narrow(box.caption), "Error");
  EXPECT_EQ(box.flags, 0x30u);
  EXPECT_FALSE(box.text.empty()) << "libsndfile's own text";
  EXPECT_EQ(decoder.GetSampleRate(), 0);
  EXPECT_EQ(decoder.GetChannels(), 0);
  std::uint8_t block[4608];
  EXPECT_EQ(decoder.Read(block, sizeof(block)), 0u);
}

TEST(WavDecoder, ReadBeforeOpenAndAfterCloseLeavesTheBufferAlone) {
  const std::string path = TempPath("closed.wav");
  ASSERT_TRUE(WriteSoundFile(path, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, MakeTestSignal(44100, 2, 2000)));
  CSndFileDecoder decoder;
  std::uint8_t block[4608];
  std::memset(block, 0xAB, sizeof(block));
  EXPECT_EQ(decoder.Read(block, sizeof(block)), 0u);
  ASSERT_TRUE(OpenPath(decoder, path));
  EXPECT_EQ(decoder.Read(block, sizeof(block)), 4608u);
  decoder.Close();
  decoder.Close();
  std::memset(block, 0xAB, sizeof(block));
  EXPECT_EQ(decoder.Read(block, sizeof(block)), 0u);
  EXPECT_EQ(block[0], 0xAB);
}

TEST(WavDecoder, PathsUpTo259CharactersAreKeptWhole) {
  // A file deep enough that its path is well past 130 characters still opens.
  std::string dir = TempDir() + "/";
  while (dir.size() < 200) dir += "deep-folder-name/";
  std::filesystem::create_directories(dir);
  const std::string path = dir + std::string(255 - dir.size(), 'x') + ".wav";
  ASSERT_EQ(path.size(), 259u);
  ASSERT_TRUE(WriteSoundFile(path, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, MakeTestSignal(44100, 1, 100)));
  CSndFileDecoder decoder;
  const std::u16string wide = platform::FromUtf8(path);
  EXPECT_EQ(decoder.SetFile(wide.c_str()), platform::S_OK);
  EXPECT_NE(decoder.Open(), 0);

  CSndFileDecoder tooLong;
  const std::u16string longer = wide + u"x";
  MessageBoxRecorder boxes;
  EXPECT_EQ(tooLong.SetFile(longer.c_str()), platform::STRSAFE_E_INSUFFICIENT_BUFFER);
}

}  // namespace
