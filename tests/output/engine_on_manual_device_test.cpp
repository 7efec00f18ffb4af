#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "output/table_output_devices.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/output/output_fixture.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace support = testing_support;
using output_testing::ManualOutputTest;

namespace {

using EngineOnManualDevice = ManualOutputTest;

TEST_F(EngineOnManualDevice, ADeviceGoneForGoodEndsThePlaybackCleanly) {
  const std::string path = support::TempPath("gone.wav");
  ASSERT_TRUE(support::WriteSoundFile(path, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                      support::MakeTestSignal(8000, 1, 8000)));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                           platform::FromUtf8(path).c_str());
  system.nextBuffer->lost = true;
  system.nextBuffer->restoreFailures = 1'000'000;

  TableOutputDevices devices(table, starter);
  support::RecordingDisplayFactory displays;
  Player player(PlaybackCollaborators{&devices, &displays});
  player.PreparePlayback();
  ASSERT_NE(player.output, nullptr);
  ASSERT_TRUE(player.StartPlaybackThread());
  ASSERT_EQ(player.stopEvent->Wait(
                std::chrono::duration_cast<std::chrono::milliseconds>(support::kBound)),
            platform::WaitResult::kSignalled)
      << "the playback must end by itself";
  ASSERT_EQ(displays.created.size(), 1u);
  EXPECT_TRUE(displays.created[0]->destroyed);
  EXPECT_EQ(system.devicesAlive, 0) << "output released";
  EXPECT_EQ(system.buffers.back()->restoreCalls, StreamingAudioOutput::kRestoreAttempts);
}

}  // namespace
