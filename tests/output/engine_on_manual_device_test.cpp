// The output on the manual device fed as the engine feeds it; then under the real
// engine, the device lost for good, and seeking.
#include <algorithm>
#include <atomic>
#include <chrono>
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

// Whole device periods played at a time, blocks of at most 4608 bytes, 125 ms before a
// block that did not fit is offered again: at any rate the device is never starved. A
// decoder stalling (after two of four seconds) leaves one gap and goes on where it stopped.
struct Feed {
  std::uint32_t rate;
  std::uint32_t stallMs = 0;  // 0: none
};
void PrintTo(const Feed& f, std::ostream* os) { *os << f.rate << " Hz, " << f.stallMs << " ms"; }
class EngineFeedAtRate : public ManualOutputTest, public ::testing::WithParamInterface<Feed> {};

TEST_P(EngineFeedAtRate, PlaysEveryFrameOnceWithAGapOnlyWhereTheDecoderStalled) {
  const auto [rate, stallMs] = GetParam();
  auto output = Make(static_cast<float>(rate), 4, 2);
  ASSERT_NE(output, nullptr);
  // SDL's period: the power of two from 64 frames up to a 50th of a second, at most 4096.
  std::uint32_t periodFrames = 64;
  while (periodFrames < 4096 && periodFrames < rate / 50) periodFrames *= 2;
  const std::uint32_t period = periodFrames * 4;
  Device().lead = period;  // what the device took last is in flight
  std::uint64_t owed = 0;
  const auto play = [&](std::uint64_t bytes) {
    for (owed += bytes; owed >= period; owed -= period) Device().Advance(period);
  };

  ASSERT_EQ(output->Start(), 1);
  const auto data = index_coded::Bytes(0, rate * 4);
  bool stalled = false;
  for (std::size_t offset = 0; offset < data.size();) {
    if (!stalled && offset >= std::size_t{rate} * 8) {
      play(std::uint64_t{rate} * 4 * stallMs / 1000);
      stalled = true;
    }
    const auto block =
        static_cast<std::uint32_t>(std::min<std::size_t>(4608, data.size() - offset));
    const std::uint32_t taken = output->Write(data.data() + offset, block);
    offset += taken;
    if (taken < block) play(rate * 4 / 8);  // the engine's 125 ms wait
  }
  play(output->bufferBytes);  // what is queued plays out
  const index_coded::Capture heard = index_coded::Read(Device().heard);
  const std::size_t gaps = stallMs > 0 ? 1 : 0;
  EXPECT_EQ(index_coded::PlayedOnceInOrder(heard, rate * 4, gaps), "");
  ASSERT_EQ(heard.Gaps().size(), gaps);
  if (gaps == 0) return;
  // The gap is the stall less what was still queued, and at most one queue longer.
  EXPECT_GE(heard.Gaps()[0] * 1000, (std::int64_t{stallMs} - 500) * rate);
  EXPECT_LE(heard.Gaps()[0] * 1000, (std::int64_t{stallMs} + 500) * rate);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, EngineFeedAtRate,
    ::testing::Values(Feed{.rate = 8000}, Feed{.rate = 22050}, Feed{.rate = 44100},
                      Feed{.rate = 48000}, Feed{.rate = 88200}, Feed{.rate = 96000},
                      Feed{.rate = 176400}, Feed{.rate = 192000}, Feed{.rate = 352800},
                      Feed{.rate = 384000}, Feed{.rate = 44100, .stallMs = 900},
                      Feed{.rate = 44100, .stallMs = 1700}, Feed{.rate = 44100, .stallMs = 2200},
                      Feed{.rate = 44100, .stallMs = 3000}, Feed{.rate = 44100, .stallMs = 7300},
                      Feed{.rate = 192000, .stallMs = 2200}));

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
  support::SetCurrentFile(path);
  system.nextBuffer->restoreFailures = 1'000'000;
  GetParam().script(*system.nextBuffer);

  // A clock that runs a second at each reading: the restores fail for long enough.
  std::atomic<std::uint32_t> clock{0};
  AudioDeviceTable running(system, [&clock] { return clock += 1000; });
  TableOutputDevices devices(running, starter);
  support::RecordingDisplayFactory displays;
  Player player(PlaybackCollaborators{&devices, &displays});
  player.PreparePlayback();
  ASSERT_TRUE(player.output != nullptr && player.StartPlaybackThread());
  ASSERT_TRUE(support::EndsByItself(player)) << "the playback must end by itself";
  ASSERT_EQ(displays.created.size(), 1u);
  EXPECT_TRUE(displays.created[0]->destroyed);
  EXPECT_EQ(system.devicesAlive, 0) << "output released";
  EXPECT_GE(system.buffers.back()->restoreCalls, StreamingAudioOutput::kRestoreAttempts);
  EXPECT_TRUE(player.DeviceLost());
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

// Seeking, with a device that plays each block as it is written: the block queued at
// the seek is dropped, and the target's frame heard next.
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
