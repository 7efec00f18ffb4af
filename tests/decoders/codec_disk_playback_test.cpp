// MP3, Ogg Vorbis and FLAC played by the engine through the real output on SDL's
// disk driver, which writes exactly what the device played to a file.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "app/shell_globals.h"
#include "decoders/flac_decoder.h"
#include "decoders/mad_decoder.h"
#include "decoders/ogg_vorbis_decoder.h"
#include "output/system_output_devices.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/decoders/codec_fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace codec_fixtures;

// SDL's disk driver writes to the file named when the device is opened.
std::string UseCaptureFile(const std::string& name) {
  const std::string path = testing_support::TempPath(name + ".raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  return path;
}

std::vector<std::int16_t> Captured(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);  // little-endian host
  return samples;
}

// The device plays silence around (and, after an underrun, inside) the file's PCM;
// silent samples are set aside on both sides of the comparison.
std::vector<std::int16_t> WithoutSilence(std::vector<std::int16_t> samples) {
  samples.erase(std::remove(samples.begin(), samples.end(), 0), samples.end());
  return samples;
}

template <typename Decoder>
std::vector<std::int16_t> Direct(const char* name) {
  CMadDecoder::ResetDitherRecordsForTesting();
  Decoder decoder;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(OpenPath(decoder, Path(name)));
  ::testing::internal::GetCapturedStdout();
  return DecodeAll(decoder);
}

struct DiskCase {
  const char* file;
  std::vector<std::int16_t> (*expected)();
};

void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.file; }

class CodecDiskPlayback : public ::testing::TestWithParam<DiskCase> {};

TEST_P(CodecDiskPlayback, DeviceHearsTheDecodedPcm) {
  const DiskCase& c = GetParam();
  const std::vector<std::int16_t> expected = WithoutSilence(c.expected());
  ASSERT_FALSE(expected.empty());
  const std::string capture = UseCaptureFile(std::string("disk-") + c.file);

  const std::u16string wide = platform::FromUtf8(Path(c.file));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, wide.c_str());
  testing_support::RecordingDisplayFactory displays;
  CMadDecoder::ResetDitherRecordsForTesting();
  Player player(PlaybackCollaborators{&SystemOutputDevices(), &displays});
  ::testing::internal::CaptureStdout();
  player.PreparePlayback();
  ::testing::internal::GetCapturedStdout();
  ASSERT_NE(player.output, nullptr) << "no output on SDL's disk driver";
  ASSERT_TRUE(player.StartPlaybackThread());
  ASSERT_EQ(player.stopEvent->Wait(
                std::chrono::duration_cast<std::chrono::milliseconds>(testing_support::kBound)),
            platform::WaitResult::kSignalled);
  const std::vector<std::int16_t> heard = WithoutSilence(Captured(capture));
  ASSERT_EQ(heard.size(), expected.size());
  EXPECT_TRUE(heard == expected) << "the device played something else";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CodecDiskPlayback,
    ::testing::Values(DiskCase{"r22050.mp3", [] { return Direct<CMadDecoder>("r22050.mp3"); }},
                      DiskCase{"mono.ogg", [] { return Direct<COggVorbisDecoder>("mono.ogg"); }},
                      DiskCase{"s16.flac", [] { return WavSamples("s44.wav"); }}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
