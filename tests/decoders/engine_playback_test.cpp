// Every format played by the real engine to its end: into a recording output, and
// through the real output on SDL's disk driver, which writes exactly what the
// device played to a file. Both must carry the decoder's own PCM, byte for byte.
#include <fstream>
#include <iterator>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "app/shell_globals.h"
#include "decoders/mad_decoder.h"
#include "output/system_output_devices.h"
#include "platform/com/com.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/decoder_factory.h"
#include "player/player.h"
#include "tests/decoders/fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/fake_window.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace testing_support;

struct PlayCase {
  const char* file;
  float rate;
  std::uint32_t channels;
  bool disk;  // also played through the real output on SDL's disk driver
};

void PrintTo(const PlayCase& c, std::ostream* os) { *os << c.file; }

// What the file's decoder delivers, decoded directly (MP3's dither from fresh records).
std::vector<std::uint8_t> Direct(const std::string& path) {
  CMadDecoder::ResetDitherRecordsForTesting();
  auto decoder = MakeDecoderFor(platform::FromUtf8(path).c_str());
  if (decoder == nullptr) return {};
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(fixtures::OpenPath(*decoder, path));
  ::testing::internal::GetCapturedStdout();
  return ToBytes(fixtures::DecodeAll(*decoder));
}

// Plays the file through the engine until it ends by itself.
void PlayToEnd(const std::string& path, OutputDevices& devices, RecordingDisplayFactory& displays) {
  FakeWindow window;
  shell::mainWindow = &window;
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                           platform::FromUtf8(path).c_str());
  CMadDecoder::ResetDitherRecordsForTesting();
  Player player(PlaybackCollaborators{&devices, &displays});
  ::testing::internal::CaptureStdout();
  player.PreparePlayback();
  ::testing::internal::GetCapturedStdout();
  ASSERT_NE(player.output, nullptr);
  ASSERT_TRUE(player.StartPlaybackThread());
  ASSERT_EQ(player.stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)),
            platform::WaitResult::kSignalled);
  shell::mainWindow = nullptr;
}

// The device plays silence around (and, after an underrun, inside) the file's
// PCM; silent samples are set aside on both sides of the comparison.
std::vector<std::int16_t> Audible(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto s = static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (s != 0) samples.push_back(s);
  }
  return samples;
}

std::string TestName(const ::testing::TestParamInfo<PlayCase>& info) {
  std::string name = info.param.file;
  for (char& ch : name) {
    if (ch == '-' || ch == '.') ch = '_';
  }
  return name;
}

class EnginePlayback : public ::testing::TestWithParam<PlayCase> {};

TEST_P(EnginePlayback, CarriesTheDecodedPcmToTheOutputTheDisplayAndTheDevice) {
  const PlayCase& c = GetParam();
  const std::string path = fixtures::Path(c.file);
  const auto expected = Direct(path);
  ASSERT_FALSE(expected.empty());
  {
    ScriptedOutputDevices devices;
    RecordingDisplayFactory displays;
    MessageBoxRecorder boxes;
    PlayToEnd(path, devices, displays);
    ASSERT_FALSE(devices.created.empty());
    const auto out = devices.created.back();
    EXPECT_EQ(out->sampleRate, c.rate);
    EXPECT_EQ(out->channels, c.channels);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_TRUE(out->written == expected)
        << out->written.size() << " bytes written, " << expected.size() << " expected";
    EXPECT_TRUE(displays.created.back()->consumed == expected);
    EXPECT_EQ(platform::com::CoInitializeDepth(), 0)
        << "the window thread keeps no COM initialisation";
  }
  if (!c.disk) return;
  // Set before this process's first use of SDL; each test runs in its own process.
  const std::string capture = TempPath(std::string("disk-") + c.file + ".raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
  RecordingDisplayFactory displays;
  PlayToEnd(path, SystemOutputDevices(), displays);
  std::ifstream in(capture, std::ios::binary);
  const auto heard = Audible(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {}));
  const auto audible = Audible(expected);
  ASSERT_EQ(heard.size(), audible.size());
  EXPECT_TRUE(heard == audible) << "the device played something else";
}

INSTANTIATE_TEST_SUITE_P(Formats, EnginePlayback,
                         ::testing::Values(PlayCase{"cbr.mp3", 44100.0f, 2, false},
                                           PlayCase{"r22050.mp3", 22050.0f, 2, true},
                                           PlayCase{"mono.ogg", 44100.0f, 1, true},
                                           PlayCase{"s16.flac", 44100.0f, 2, true},
                                           PlayCase{"ape-44100-2-16.ape", 44100.0f, 2, true},
                                           PlayCase{"ape-22050-1-24.ape", 22050.0f, 1, false},
                                           PlayCase{"wmav2-44100-2.wma", 44100.0f, 2, true},
                                           PlayCase{"wmav1-22050-1.wma", 22050.0f, 1, false}),
                         TestName);

}  // namespace
