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

// The device is lost for good at some moment; the playback must end by itself, cleanly.
struct LossCase {
  const char* name;
  void (*script)(platform::sound::ManualBufferState&);
};

class DeviceGoneForGood : public ManualOutputTest,
                          public ::testing::WithParamInterface<LossCase> {};

TEST_P(DeviceGoneForGood, EndsThePlaybackCleanly) {
  const std::string path = support::TempPath("gone.wav");
  ASSERT_TRUE(support::WriteSoundFile(path, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                      support::MakeTestSignal(8000, 1, 16000)));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                           platform::FromUtf8(path).c_str());
  system.nextBuffer->restoreFailures = 1'000'000;
  GetParam().script(*system.nextBuffer);

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

INSTANTIATE_TEST_SUITE_P(
    Moments, DeviceGoneForGood,
    ::testing::Values(
        LossCase{"BeforeTheFirstBlock",
                 [](platform::sound::ManualBufferState& b) { b.lost = true; }},
        // The device never moves, so the queue fills (8 kHz mono: 16000 bytes) and the
        // engine only offers again: Write then has no room and never reaches Lock.
        LossCase{"WithAFullQueue",
                 [](platform::sound::ManualBufferState& b) {
                   b.onUnlock = [](platform::sound::ManualBufferState& s) {
                     // The buffer's own silence first, then a full queue.
                     if (s.unlockedBytes >= s.memory.size() + 16000) s.lost = true;
                   };
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
