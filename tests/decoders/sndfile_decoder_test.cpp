#include "decoders/sndfile_decoder.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <sndfile.h>

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

struct WavCase {
  const char* name;
  int format;
  int rate;
  int channels;
  int tolerance;  // in 16-bit steps: what the file's own precision allows
};

class WavFiles : public ::testing::TestWithParam<WavCase> {};

TEST_P(WavFiles, Deliver16BitSamplesInBlocksOf4608) {
  const WavCase& c = GetParam();
  const int frames = 5000;
  const auto samples = MakeTestSignal(c.rate, c.channels, frames);
  const std::string path = TempPath(std::string(c.name) + ".wav");
  ASSERT_TRUE(WriteSoundFile(path, c.rate, c.channels, SF_FORMAT_WAV | c.format, samples));
  CSndFileDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, path));
  EXPECT_EQ(decoder.GetSampleRate(), c.rate);
  EXPECT_EQ(decoder.GetBitsPerSample(), 16);
  EXPECT_EQ(decoder.GetChannels(), c.channels);
  std::vector<std::uint32_t> sizes;
  const auto bytes = ReadAll(decoder, &sizes);
  if (c.tolerance == 0) {
    EXPECT_EQ(bytes, ToBytes(samples));
  }
  ASSERT_EQ(bytes.size(), samples.size() * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto got = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    ASSERT_NEAR(got, samples[i], c.tolerance) << "sample " << i;
  }
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 4608u);
  EXPECT_EQ(sizes.back(), (frames * c.channels * 2) % 4608);
}

INSTANTIATE_TEST_SUITE_P(Formats, WavFiles,
                         ::testing::Values(WavCase{"s16_44100_2", SF_FORMAT_PCM_16, 44100, 2, 0},
                                           WavCase{"s16_44100_1", SF_FORMAT_PCM_16, 44100, 1, 0},
                                           WavCase{"s16_48000_2", SF_FORMAT_PCM_16, 48000, 2, 0},
                                           WavCase{"s16_22050_1", SF_FORMAT_PCM_16, 22050, 1, 0},
                                           WavCase{"s16_8000_2", SF_FORMAT_PCM_16, 8000, 2, 0},
                                           WavCase{"u8", SF_FORMAT_PCM_U8, 44100, 2, 256},
                                           WavCase{"s24", SF_FORMAT_PCM_24, 44100, 2, 0},
                                           WavCase{"s32", SF_FORMAT_PCM_32, 44100, 2, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WavDecoder, PathsUpTo259CharactersAreKeptWhole) {
  // A file deep enough that its path is well past 130 characters still opens.
  std::string dir = TempDir() + "/";
  while (dir.size() < 200) dir += "deep-folder-name/";
  std::filesystem::create_directories(dir);
  const std::string path = dir + std::string(255 - dir.size(), 'x') + ".wav";
  ASSERT_EQ(path.size(), 259u);
  ASSERT_TRUE(WriteSoundFile(path, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                             MakeTestSignal(44100, 1, 100)));
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
