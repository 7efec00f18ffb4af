// Each format played by the real engine into a recording output.
#include <cstring>

#include <gtest/gtest.h>

#include "app/shell_globals.h"
#include "decoders/flac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/decoders/codec_fixtures.h"
#include "tests/support/fake_window.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace codec_fixtures;
using namespace testing_support;

std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());  // little-endian host
  return bytes;
}

// What a decoder of this kind delivers for the file, decoded directly.
template <typename Decoder>
std::vector<std::uint8_t> Direct(const std::string& name) {
  CMadDecoder::ResetDitherRecordsForTesting();
  Decoder decoder;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(OpenPath(decoder, Path(name)));
  ::testing::internal::GetCapturedStdout();
  return Bytes(DecodeAll(decoder));
}

struct PlayCase {
  const char* file;
  std::vector<std::uint8_t> (*expected)();
  int channels;
};

void PrintTo(const PlayCase& c, std::ostream* os) { *os << c.file; }

class CodecPlayback : public ::testing::TestWithParam<PlayCase> {};

TEST_P(CodecPlayback, EngineWritesTheDecodedPcmToTheOutput) {
  const PlayCase& c = GetParam();
  const std::vector<std::uint8_t> expected = c.expected();
  ASSERT_FALSE(expected.empty());

  FakeWindow window;
  shell::mainWindow = &window;
  const std::u16string wide = platform::FromUtf8(Path(c.file));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, wide.c_str());
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  CMadDecoder::ResetDitherRecordsForTesting();
  auto player = std::make_unique<Player>(PlaybackCollaborators{&devices, &displays});
  ::testing::internal::CaptureStdout();
  player->PreparePlayback();
  ::testing::internal::GetCapturedStdout();
  ASSERT_NE(player->output, nullptr);
  const auto out = devices.created.back();
  EXPECT_EQ(out->sampleRate, 44100.0f);
  EXPECT_EQ(out->channels, static_cast<std::uint32_t>(c.channels));
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_EQ(player->stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)),
            platform::WaitResult::kSignalled);
  EXPECT_TRUE(out->written == expected)
      << out->written.size() << " bytes written, " << expected.size() << " expected";
  EXPECT_TRUE(displays.created.back()->consumed == expected);
  shell::mainWindow = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CodecPlayback,
    ::testing::Values(PlayCase{"cbr.mp3", [] { return Direct<CMadDecoder>("cbr.mp3"); }, 2},
                      PlayCase{"mono.ogg", [] { return Direct<COggVorbisDecoder>("mono.ogg"); }, 1},
                      PlayCase{"s16.flac", [] { return Bytes(WavSamples("s44.wav")); }, 2}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
