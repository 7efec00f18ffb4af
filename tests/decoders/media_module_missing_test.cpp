// Without the FFmpeg media module both decoders fail as on a bad file. Each case runs
// in its own process under ctest, so a missing module here affects no other test.
#include <stdlib.h>
#include <string_view>
#include <tuple>

#include <gtest/gtest.h>

#include "decoders/mac_decoder.h"
#include "decoders/wma_decoder.h"
#include "platform/ffmpeg/media_loader.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace fixtures;
using testing_support::MessageBoxRecorder;
using testing_support::Narrow;

bool FfmpegMapped() {
  const std::vector<char> maps = testing_support::ReadBytes("/proc/self/maps");
  return std::string_view(maps.data(), maps.size()).find("libavcodec") != std::string_view::npos;
}

// FFmpeg costs ~33 MB resident: it stays out until an APE or WMA file is opened.
// (First in this file, so that it holds when the binary runs in one process too.)
TEST(MediaModuleLoading, FfmpegIsMappedOnlyWhenAnApeOrWmaFileIsOpened) {
  const std::string ape = Path("ape-44100-1-16.ape");
  CMACDecoder unopened;
  EXPECT_FALSE(FfmpegMapped()) << "linked in, or loaded before any file was opened";
  CMACDecoder decoder;
  ASSERT_TRUE(OpenPath(decoder, ape));
  EXPECT_TRUE(FfmpegMapped());
}

TEST(MediaModuleMissing, ApeAndWmaShowTheirUsualErrorsAndTheModuleIsTriedAgain) {
  // Made first, while the fixture tools may still run.
  const std::string ape = Path("ape-44100-1-16.ape");
  const std::string wma = Path("wmav2-22050-1.wma");
  setenv("TONARIA_FFMPEG_MODULE", testing_support::TempPath("no-such-module.so").c_str(), 1);
  if (platform::ffmpeg::LoadMediaModule() != nullptr) GTEST_SKIP() << "loaded before";
  CMACDecoder apeDecoder;
  CWMADecoder wmaDecoder;
  const std::tuple<CDecoder*, std::string, const char*> rows[] = {
      {&apeDecoder, ape, "Can not create APE decompress interface."},
      {&wmaDecoder, wma, "No audio data exist in this file."}};
  for (const auto& [decoder, path, text] : rows) {
    MessageBoxRecorder boxes;
    EXPECT_FALSE(OpenPath(*decoder, path));
    ASSERT_EQ(boxes.Count(), 1u) << path;
    EXPECT_EQ(Narrow(boxes.Boxes()[0].text), text);
    std::uint8_t block[4608];
    EXPECT_EQ(decoder->Read(block, sizeof(block)), 0u);
  }
  unsetenv("TONARIA_FFMPEG_MODULE");
  EXPECT_NE(platform::ffmpeg::LoadMediaModule(), nullptr) << "a failed load is tried again";
  CMACDecoder decoder;
  EXPECT_TRUE(OpenPath(decoder, ape));
}

}  // namespace
