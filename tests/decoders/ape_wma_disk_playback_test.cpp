// An APE and a WMA file played by the engine through the real output on SDL's
// disk driver, which writes exactly what the device played to a file.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "app/shell_globals.h"
#include "decoders/mac_decoder.h"
#include "decoders/wma_decoder.h"
#include "output/system_output_devices.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/decoders/ape_wma_fixtures.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace ape_wma_fixtures;

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

template <typename Decoder>
std::vector<std::uint8_t> Direct(const char* name) {
  Decoder decoder;
  EXPECT_TRUE(OpenPath(decoder, Path(name)));
  return DecodeAll(decoder);
}

struct DiskCase {
  const char* file;
  std::vector<std::uint8_t> (*expected)();
};

void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.file; }

class ApeWmaDiskPlayback : public ::testing::TestWithParam<DiskCase> {};

TEST_P(ApeWmaDiskPlayback, DeviceHearsTheDecodedPcm) {
  const DiskCase& c = GetParam();
  const auto expected = Audible(c.expected());
  ASSERT_FALSE(expected.empty());
  const std::string capture = testing_support::TempPath(std::string("disk-") + c.file + ".raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
  const std::u16string wide = platform::FromUtf8(Path(c.file));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, wide.c_str());
  testing_support::RecordingDisplayFactory displays;
  Player player(PlaybackCollaborators{&SystemOutputDevices(), &displays});
  player.PreparePlayback();
  ASSERT_NE(player.output, nullptr) << "no output on SDL's disk driver";
  ASSERT_TRUE(player.StartPlaybackThread());
  ASSERT_EQ(player.stopEvent->Wait(
                std::chrono::duration_cast<std::chrono::milliseconds>(testing_support::kBound)),
            platform::WaitResult::kSignalled);
  std::ifstream in(capture, std::ios::binary);
  const auto heard = Audible(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {}));
  ASSERT_EQ(heard.size(), expected.size());
  EXPECT_TRUE(heard == expected) << "the device played something else";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ApeWmaDiskPlayback,
    ::testing::Values(
        DiskCase{"ape-44100-2-16.ape", [] { return Direct<CMACDecoder>("ape-44100-2-16.ape"); }},
        DiskCase{"wmav2-44100-2.wma", [] { return Direct<CWMADecoder>("wmav2-44100-2.wma"); }}),
    [](const auto& info) { return std::string(info.index == 0 ? "ape" : "wma"); });

}  // namespace
