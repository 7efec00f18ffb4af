// What only WMA does: the choice among several audio outputs, the COM pairing, and
// the streams its reader is fed through.
#include "decoders/wma_decoder.h"

#include <fstream>
#include <future>

#include <gtest/gtest.h>

#include "decoders/audio_stream.h"
#include "decoders/file_stream.h"
#include "platform/com/com.h"
#include "platform/kernel/text.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
namespace com = platform::com;

TEST(WmaDecoder, SeveralAudioOutputsReportTheChosenOnesFormat) {
  CWMADecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, Path("two-audio.wma")));
  // The later output with as many bits wins; its own rate and channels are reported.
  EXPECT_EQ(decoder.GetSampleRate(), 44100);
  EXPECT_EQ(decoder.GetChannels(), 2);
  // The file's duration is that of its longer, 22050 Hz stream.
  EXPECT_NEAR(decoder.Duration() / 1e7, kFrames / 22050.0, 0.2);
  EXPECT_TRUE(DecodeAll(decoder) == Reference("two-audio.wma")) << "ffmpeg decodes it otherwise";
}

TEST(WmaDecoder, ComIsPairedOnTheOpeningAndTheReadingThread) {
  auto decoder = std::make_unique<CWMADecoder>();
  ASSERT_TRUE(OpenPath(*decoder, Path("wmav2-22050-2.wma")));
  EXPECT_EQ(com::CoInitializeDepth(), 0);
  auto playback = std::async(std::launch::async, [&] {
    std::uint8_t block[4608];
    const std::uint32_t first = decoder->Read(block, sizeof(block));
    const int during = com::CoInitializeDepth();
    decoder.reset();
    return std::make_tuple(first, during, com::CoInitializeDepth());
  });
  const auto [first, during, after] = playback.get();
  EXPECT_GT(first, 0u);
  EXPECT_EQ(during, 1) << "initialised for reading";
  EXPECT_EQ(after, 0) << "and undone by the destruction on the same thread";
}

// At the end a read gives no bytes and all ones; nothing is written into the user's
// file; the last release of the COM stream leaves the file stream to its owner.
TEST(AudioStream, EndsWithAllOnesWritesNothingAndLeavesTheFileToItsOwner) {
  const std::string path = testing_support::TempPath("stream.bin");
  std::ofstream(path, std::ios::binary) << "0123456789";
  CFileStream file(platform::FromUtf8(path).c_str());
  CAudioStream* stream = CAudioStream::Create(&file);
  stream->AddRef();
  std::uint64_t position = 0;
  EXPECT_EQ(stream->Seek(-4, com::STREAM_SEEK_END, &position), platform::S_OK);
  EXPECT_EQ(position, 6u);
  char buffer[16];
  com::ULONG got = 99;
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got), platform::S_OK);
  EXPECT_EQ(std::string(buffer, got), "6789");
  constexpr auto kAllOnes = static_cast<platform::HRESULT>(0xFFFFFFFFu);
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got), kAllOnes);
  EXPECT_EQ(got, 0u);
  com::ULONG written = 5;
  EXPECT_EQ(stream->Write("x", 1, &written), kAllOnes);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(stream->Release(), 0u);
  ASSERT_TRUE(file.Handle().IsOpen());
  EXPECT_EQ(file.Seek(3, 0), 3u);
  EXPECT_EQ(file.Read(buffer, 1), 1u);
  EXPECT_EQ(buffer[0], '3');
}

TEST(FileStream, MissingFileShowsItsNameAndReadsNothing) {
  testing_support::MessageBoxRecorder boxes;
  const std::string path = testing_support::TempPath("absent.wma");
  CFileStream file(platform::FromUtf8(path).c_str());
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(testing_support::Narrow(boxes.Boxes()[0].text), "Can not open file '" + path + "'.");
  EXPECT_EQ(testing_support::Narrow(boxes.Boxes()[0].caption), "Error");
  EXPECT_EQ(boxes.Boxes()[0].flags, 0u);
  std::uint8_t byte = 0;
  EXPECT_EQ(file.Read(&byte, 1), 0u);
  EXPECT_EQ(file.Seek(0, 0), platform::kInvalidSetFilePointer);
}

}  // namespace
