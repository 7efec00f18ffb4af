#include "player/player.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <future>
#include <random>

#include "app/shell_globals.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "platform/ui/menu.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/fake_window.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace testing_support;
namespace ui = platform::ui;

constexpr std::uint32_t kGrayed = ui::MF_GRAYED | ui::MF_DISABLED;

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell::mainWindow = &window;
    shell::fileReady = 1;
    // The menu as the shell leaves it when a playback starts.
    window.GetMenu()->ModifyMenu(IDM_PLAY, kGrayed, u"&Play\tCtrl+1,A");
    window.GetMenu()->ModifyMenu(IDM_PAUSE, 0, u"P&ause\tCtrl+2,D");
    window.GetMenu()->ModifyMenu(IDM_STOP, 0, u"&Stop\tCtrl+3,S");
  }
  void TearDown() override { shell::mainWindow = nullptr; }

  void Choose(const std::string& path) {
    const std::u16string wide = platform::FromUtf8(path);
    platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, wide.c_str());
  }

  // A 16-bit WAV of the given length; returns its PCM bytes.
  std::vector<std::uint8_t> MakeWav(const std::string& name, int rate, int channels, int frames) {
    const auto samples = MakeTestSignal(rate, channels, frames);
    EXPECT_TRUE(WriteSoundFile(TempPath(name), rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
    Choose(TempPath(name));
    return ToBytes(samples);
  }

  std::unique_ptr<Player> MakePlayer() {
    return std::make_unique<Player>(PlaybackCollaborators{&devices, &displays});
  }

  // Waits (bounded) until the playback has torn down by itself.
  static bool Ended(Player& player) {
    return player.stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)) ==
           platform::WaitResult::kSignalled;
  }

  // Runs Stop on another thread so that a hang fails the test instead of blocking it.
  static bool StopsWithinBound(Player& player) {
    auto done = std::async(std::launch::async, [&] { player.StopPlaybackThread(); });
    return done.wait_for(kBound) == std::future_status::ready;
  }

  void ExpectStoppedMenu() {
    EXPECT_EQ(window.GetMenu()->GetMenuState(IDM_PLAY), 0u);
    EXPECT_EQ(window.GetMenu()->GetMenuState(IDM_PAUSE), kGrayed);
    EXPECT_EQ(window.GetMenu()->GetMenuState(IDM_STOP), kGrayed);
  }

  FakeWindow window;
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  MessageBoxRecorder boxes;
};

TEST_F(PlayerTest, UnknownTypeMakesNothingAndTheThreadEndsCleanly) {
  Choose(TempPath("notes.txt"));
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(Narrow(boxes.Boxes()[0].text), "Unknown file type.");
  EXPECT_EQ(Narrow(boxes.Boxes()[0].caption), "Error");
  EXPECT_EQ(boxes.Boxes()[0].flags, 0x30u);
  EXPECT_EQ(player->decoder, nullptr);
  EXPECT_EQ(player->output, nullptr);
  EXPECT_EQ(player->analyzer, nullptr);
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(Ended(*player));
  ExpectStoppedMenu();
  EXPECT_EQ(shell::fileReady.load(), 0);
}

TEST_F(PlayerTest, BlockAlignFollowsTheChannelCount) {
  for (int channels : {1, 2, 6}) {
    MakeWav("align.wav", 22050, channels, 100);
    auto player = MakePlayer();
    player->PreparePlayback();
    ASSERT_NE(player->output, nullptr);
    const auto& made = devices.created.back();
    EXPECT_EQ(made->bytesPerFrame, channels == 1 ? 2u : 4u) << channels << " channels";
    EXPECT_EQ(made->sampleRate, 22050.0f);
    EXPECT_EQ(made->channels, channels == 1 ? 1u : 2u) << "more than two channels are mixed to stereo";
  }
}

TEST_F(PlayerTest, NoDeviceRowsMeansNoOutputYetEverythingIsReleased) {
  MakeWav("short.wav", 44100, 2, 1000);
  devices.rows = 0;
  auto player = MakePlayer();
  player->PreparePlayback();
  EXPECT_EQ(player->output, nullptr);
  ASSERT_NE(player->decoder, nullptr);
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(Ended(*player));
  EXPECT_EQ(player->decoder, nullptr);
  EXPECT_EQ(player->analyzer, nullptr);
  EXPECT_EQ(displays.created.back()->attaches, 0) << "the display is never attached";
  EXPECT_TRUE(displays.created.back()->destroyed);
  ExpectStoppedMenu();
}

TEST_F(PlayerTest, OutputThatDoesNotStartEndsThePlaybackAndStopReturns) {
  MakeWav("short.wav", 44100, 2, 1000);
  devices.next->startResult = 0;
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  // A Stop asked for now must not wait for ever for a thread that already returned.
  EXPECT_TRUE(StopsWithinBound(*player));
  EXPECT_TRUE(devices.created.back()->destroyed);
  EXPECT_EQ(devices.created.back()->writeCalls, 0);
}

TEST_F(PlayerTest, FirstReadOfZeroGoesStraightToTheTearDown) {
  MakeWav("empty.wav", 44100, 2, 0);
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_NE(player->output, nullptr);
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(Ended(*player));
  EXPECT_EQ(shell::fileReady.load(), 0);
  ExpectStoppedMenu();
  const auto& out = devices.created.back();
  EXPECT_EQ(out->writeCalls, 0);
  EXPECT_TRUE(out->destroyed);
  EXPECT_EQ(displays.created.back()->detaches, 1);
  const auto posted = window.Posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, WM_PLAYBACK_ENDED);
  EXPECT_EQ(posted[0].wParam, player->Serial());
}

TEST_F(PlayerTest, PartlyTakenBlockIsOfferedAgainAndConsumedOnce) {
  const auto pcm = MakeWav("split.wav", 44100, 2, 1152 * 3);
  devices.next->limits = {4000};
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(Ended(*player));
  const auto& out = devices.created.back();
  EXPECT_EQ(out->written, pcm) << "the 608 bytes after the first 4000 follow them, once";
  EXPECT_EQ(out->writeCalls, 4) << "4000 + 608, then two whole blocks";
  EXPECT_EQ(displays.created.back()->consumed, pcm);
  EXPECT_EQ(displays.created.back()->consumeCalls, 3);
}

TEST_F(PlayerTest, StopWhilePausedWakesTheThreadWithoutRestartingTheOutput) {
  MakeWav("long.wav", 44100, 2, 44100);
  devices.next->gated = true;
  auto player = MakePlayer();
  auto out = devices.next;
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  player->PausePlayback();
  out->Grant(1 << 20);
  ASSERT_TRUE(out->WaitUntil([&] { return out->stopCalls == 1; })) << "the thread pauses";
  auto display = displays.created.back();
  EXPECT_TRUE(display->WaitUntil([&] { return display->pauses == 1; })) << "the DSP thread is paused too";
  EXPECT_TRUE(StopsWithinBound(*player));
  EXPECT_EQ(out->startCalls, 1) << "a stop while paused does not start the output again";
  EXPECT_TRUE(out->destroyed);
  ExpectStoppedMenu();
}

TEST_F(PlayerTest, PauseAfterStopDoesNothingAndStopAfterTheEndReturnsAtOnce) {
  MakeWav("short.wav", 44100, 2, 2000);
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(player->stopEvent->Wait(std::chrono::seconds(20)) == platform::WaitResult::kSignalled);
  player->stopEvent->Set();  // as it stands after a natural end (the wait above consumed it)
  EXPECT_TRUE(StopsWithinBound(*player));
  player->PausePlayback();
  EXPECT_FALSE(player->IsPaused());
}

TEST_F(PlayerTest, StopDuringRetriesForAFullOutputReturns) {
  MakeWav("long.wav", 44100, 2, 44100);
  devices.next->full = true;
  auto player = MakePlayer();
  auto out = devices.next;
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(out->WaitUntil([&] { return out->writeCalls >= 2; })) << "the engine retries";
  EXPECT_TRUE(StopsWithinBound(*player));
  EXPECT_TRUE(out->destroyed);
}

TEST_F(PlayerTest, DeadDeviceEndsThePlaybackByItself) {
  MakeWav("long.wav", 44100, 2, 44100);
  devices.next->deviceFailed = true;
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(Ended(*player));
  ExpectStoppedMenu();
  EXPECT_EQ(shell::fileReady.load(), 0);
}

TEST_F(PlayerTest, EveryByteArrivesOnceAcrossFiftyPausesAtRandomMoments) {
  const auto pcm = MakeWav("cycles.wav", 44100, 2, 44100 * 6);
  devices.next->gated = true;
  auto out = devices.next;
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  std::mt19937 random(7);
  for (int cycle = 1; cycle <= 50; ++cycle) {
    out->Grant(std::uniform_int_distribution<std::uint64_t>(0, 9000)(random));
    player->PausePlayback();
    out->Grant(Player::kPcmBytes);  // lets a Write in progress finish, so the pause is reached
    ASSERT_TRUE(out->WaitUntil([&] { return out->stopCalls == cycle; })) << "pause " << cycle;
    player->ResumePlayback();
    ASSERT_TRUE(out->WaitUntil([&] { return out->startCalls == cycle + 1; })) << "resume " << cycle;
  }
  out->OpenGate();
  ASSERT_TRUE(Ended(*player));
  EXPECT_EQ(out->written.size(), pcm.size());
  EXPECT_TRUE(out->written == pcm) << "bytes dropped, doubled or reordered";
  EXPECT_TRUE(displays.created.back()->consumed == pcm);
  EXPECT_EQ(displays.created.back()->pauses, 50);
  EXPECT_EQ(displays.created.back()->resumes, 50);
}

TEST_F(PlayerTest, DisplayFlagsReachTheAnalyserOnlyWhileItExists) {
  MakeWav("long.wav", 44100, 2, 44100);
  devices.next->gated = true;
  auto out = devices.next;
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  player->ApplyDisplayFlags(0, 1, 0);
  EXPECT_TRUE(player->HasAnalyzer());
  out->OpenGate();
  player->StopPlaybackThread();
  const auto& display = displays.created.back();
  EXPECT_EQ(display->flags[0], 0);
  EXPECT_EQ(display->flags[1], 1);
  EXPECT_EQ(display->flags[2], 0);
  EXPECT_FALSE(player->HasAnalyzer());
  player->ApplyDisplayFlags(1, 1, 1);  // after the tear-down: nothing to write into
}

TEST_F(PlayerTest, TheEndOfTheFileIsHeardBeforeTheTearDown) {
  const auto pcm = MakeWav("tail.wav", 44100, 2, 3000);
  devices.next->unplayed = 8000;
  auto out = devices.next;
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(out->WaitUntil([&] { return out->written.size() == pcm.size() && out->playedQueries >= 3; }));
  {
    std::scoped_lock hold(out->mutex);
    EXPECT_EQ(out->stopCalls, 0) << "the output keeps playing while its queue drains";
    out->unplayed = 0;
  }
  ASSERT_TRUE(Ended(*player));
  EXPECT_TRUE(out->destroyed);
}

TEST_F(PlayerTest, StopWhileTheQueueDrainsCutsItShort) {
  MakeWav("tail.wav", 44100, 2, 3000);
  devices.next->unplayed = 8000;
  auto out = devices.next;
  auto player = MakePlayer();
  player->PreparePlayback();
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(out->WaitUntil([&] { return out->playedQueries >= 3; }));
  EXPECT_TRUE(StopsWithinBound(*player));
  EXPECT_TRUE(out->destroyed);
}

}  // namespace
