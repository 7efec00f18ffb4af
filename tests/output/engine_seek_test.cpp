// Seeking under the real engine on the manual device, which plays each block as it is
// written: the block queued at the seek is dropped, and the target's frame heard next.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "output/table_output_devices.h"
#include "player/player.h"
#include "tests/output/index_coded.h"
#include "tests/output/output_fixture.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace support = testing_support;
using output_testing::ManualOutputTest;

namespace {

constexpr std::int64_t kRate = 44100;
constexpr std::int64_t kFrames = kRate * 3;
constexpr std::uint32_t kTriggerBytes = kRate * 4 / 2;  // half a second heard

struct SeekCase {
  const char* name;
  std::int64_t frames;
  bool relative = false, whilePaused = false;
  std::int64_t landsAt;  // -1: past the end, nothing more is heard
};

class EngineSeek : public ManualOutputTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(EngineSeek, DropsTheQueueAndGoesOnAtTheTarget) {
  const SeekCase c = GetParam();
  const std::string path = support::TempPath("seek.wav");
  ASSERT_TRUE(support::WriteSoundFile(path, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                      index_coded::Samples(0, kFrames)));
  support::SetCurrentFile(path);

  TableOutputDevices devices(table, starter);
  support::RecordingDisplayFactory displays;
  Player player(PlaybackCollaborators{&devices, &displays});
  std::atomic<bool> triggered{false};
  std::int64_t heardAtRequest = 0;  // written by the engine's thread before triggered
  // Runs on the engine's thread in every Unlock: audio written is played at once.
  system.nextBuffer->onUnlock = [&](platform::sound::ManualBufferState& s) {
    const auto [offset, bytes] = s.locks.back();
    const std::vector<std::uint8_t> head = s.Read(offset, 4);
    if (head[0] == 0 && head[1] == 0) return;  // the output's own silence
    s.Advance(bytes);
    if (!triggered && s.heard.size() >= kTriggerBytes) {
      heardAtRequest = static_cast<std::int64_t>(s.heard.size() / 4);
      triggered = true;
      if (c.whilePaused) player.PausePlayback();
      player.RequestSeek(c.frames, c.relative);
    }
  };
  player.PreparePlayback();
  ASSERT_NE(player.output, nullptr);
  ASSERT_TRUE(player.CanSeek());
  EXPECT_EQ(player.LengthInFrames(), static_cast<std::uint64_t>(kFrames));
  ASSERT_TRUE(player.StartPlaybackThread());

  if (c.whilePaused) {
    const auto until = std::chrono::steady_clock::now() + support::kBound;
    while (player.SeeksCarriedOut() == 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    ASSERT_EQ(player.SeeksCarriedOut(), 1u);
    // The engine is parked in its pause now: the device stays stopped.
    EXPECT_TRUE(player.IsPaused());
    EXPECT_FALSE(Device().playing) << "a seek while paused keeps the pause";
    if (c.landsAt >= 0) {
      EXPECT_EQ(player.HeardFrame(), static_cast<std::uint64_t>(c.landsAt));
    }
    player.ResumePlayback();
  }
  ASSERT_TRUE(support::EndsByItself(player)) << "the playback must end by itself";
  ASSERT_TRUE(triggered);
  EXPECT_EQ(player.SeeksCarriedOut(), 1u);
  // What was still queued at the end plays out.
  Device().playing = true;
  Device().Advance(static_cast<std::uint32_t>(Device().memory.size()));

  const index_coded::Capture heard = index_coded::Read(Device().heard);
  ASSERT_EQ(heard.damage, "");
  const std::vector<index_coded::Run> runs = index_coded::Runs(heard);
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs[0].first, 0);
  EXPECT_EQ(runs[0].end, heardAtRequest) << "what was queued at the request is dropped";
  if (c.landsAt < 0) {
    EXPECT_EQ(runs.size(), 1u) << "past the end: nothing after the seek";
    EXPECT_LT(runs[0].end, kFrames);
    return;
  }
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].first, c.landsAt) << "the first frame after the seek is the target's";
  EXPECT_EQ(runs[1].end, kFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, EngineSeek,
    // clang-format off
    ::testing::Values(
        SeekCase{.name = "Forward", .frames = kRate * 2, .landsAt = kRate * 2},
        SeekCase{.name = "BackToAFrame", .frames = 1234, .landsAt = 1234},
        SeekCase{.name = "BeforeTheStart", .frames = -kRate * 10, .relative = true, .landsAt = 0},
        SeekCase{.name = "WhilePaused", .frames = kRate * 2 + 7, .whilePaused = true,
                 .landsAt = kRate * 2 + 7},
        SeekCase{.name = "PastTheEnd", .frames = kFrames + 5, .landsAt = -1},
        SeekCase{.name = "PastTheEndWhilePaused", .frames = kFrames * 2, .whilePaused = true,
                 .landsAt = -1}),
    // clang-format on
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
