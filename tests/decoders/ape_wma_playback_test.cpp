// APE and WMA files played by the real engine into a recording output.
#include <gtest/gtest.h>

#include "app/shell_globals.h"
#include "platform/com/com.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/decoders/ape_wma_fixtures.h"
#include "tests/support/fake_window.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace ape_wma_fixtures;
using namespace testing_support;

struct PlayCase {
  const char* file;
  float rate;
  std::uint32_t channels;
  int tolerance;  // against ffmpeg's own decode, in 16-bit steps
};

void PrintTo(const PlayCase& c, std::ostream* os) { *os << c.file; }

class ApeWmaPlayback : public ::testing::TestWithParam<PlayCase> {};

TEST_P(ApeWmaPlayback, EngineWritesTheDecodedPcmToTheOutput) {
  const PlayCase& c = GetParam();
  const auto expected = Reference(c.file);
  ASSERT_FALSE(expected.empty());
  FakeWindow window;
  shell::mainWindow = &window;
  const std::u16string wide = platform::FromUtf8(Path(c.file));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, wide.c_str());
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  MessageBoxRecorder boxes;
  auto player = std::make_unique<Player>(PlaybackCollaborators{&devices, &displays});
  player->PreparePlayback();
  ASSERT_NE(player->output, nullptr);
  const auto out = devices.created.back();
  EXPECT_EQ(out->sampleRate, c.rate);
  EXPECT_EQ(out->channels, c.channels);
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_EQ(player->stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)),
            platform::WaitResult::kSignalled);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_LE(MaxDifference(out->written, expected), c.tolerance)
      << out->written.size() << " bytes written, " << expected.size() << " expected";
  EXPECT_TRUE(displays.created.back()->consumed == out->written);
  EXPECT_EQ(platform::com::CoInitializeDepth(), 0)
      << "the window thread keeps no COM initialisation";
  shell::mainWindow = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Formats, ApeWmaPlayback,
                         ::testing::Values(PlayCase{"ape-44100-2-16.ape", 44100.0f, 2, 0},
                                           PlayCase{"ape-22050-1-24.ape", 22050.0f, 1, 0},
                                           PlayCase{"wmav2-44100-2.wma", 44100.0f, 2, 1},
                                           PlayCase{"wmav1-22050-1.wma", 22050.0f, 1, 1}),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           for (char& ch : name) {
                             if (ch == '-' || ch == '.') ch = '_';
                           }
                           return name;
                         });

}  // namespace
