#include "player/player.h"

#include <atomic>
#include <future>
#include <random>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "app/shell_state.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/fake_window.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/playback_doubles.h"

namespace {

using namespace testing_support;

constexpr std::uint32_t kGrayed = 3;  // grayed and disabled

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell::mainWindow = &window;
    shell::fileReady = 1;
    // As the shell shows it when a playback starts.
    shell::ShowPlaybackState(shell::PlaybackState::kPlaying);
  }
  void TearDown() override {
    shell::ShowPlaybackState(shell::PlaybackState::kIdle);
    shell::mainWindow = nullptr;
  }

  void Choose(const std::string& path) {
    platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                             platform::FromUtf8(path).c_str());
  }

  // A 16-bit WAV of the given length, chosen as the current file; returns its PCM bytes.
  std::vector<std::uint8_t> MakeWav(const std::string& name, int rate, int channels, int frames) {
    const auto samples = MakeTestSignal(rate, channels, frames);
    EXPECT_TRUE(
        WriteSoundFile(TempPath(name), rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
    Choose(TempPath(name));
    return ToBytes(samples);
  }

  // A Player prepared on the current file; `out` is the output state it was offered.
  std::unique_ptr<Player> Prepared() {
    out = devices.next;
    auto player = std::make_unique<Player>(PlaybackCollaborators{&devices, &displays});
    player->PreparePlayback();
    return player;
  }

  // Runs Stop on another thread so that a hang fails the test instead of blocking it.
  static bool StopsWithinBound(Player& player) {
    auto done = std::async(std::launch::async, [&] { player.StopPlaybackThread(); });
    return done.wait_for(kBound) == std::future_status::ready;
  }

  // The playback tore down by itself (bounded): everything released, the menu and
  // fileReady stopped, and the end posted once with the Player's serial.
  void ExpectEndedCleanly(Player& player) {
    ASSERT_EQ(player.stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)),
              platform::WaitResult::kSignalled);
    EXPECT_EQ(player.decoder, nullptr);
    EXPECT_EQ(player.output, nullptr);
    EXPECT_EQ(player.analyzer, nullptr);
    for (const auto& made : devices.created) EXPECT_TRUE(made->destroyed);
    for (const auto& made : displays.created) EXPECT_TRUE(made->destroyed);
    EXPECT_EQ(window.GetMenu()->GetMenuState(IDM_PLAY), 0u);
    EXPECT_EQ(window.GetMenu()->GetMenuState(IDM_PAUSE), kGrayed);
    EXPECT_EQ(window.GetMenu()->GetMenuState(IDM_STOP), kGrayed);
    EXPECT_EQ(shell::playbackState.load(), shell::PlaybackState::kStopped);
    EXPECT_EQ(shell::fileReady.load(), 0);
    const auto posted = window.Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_PLAYBACK_ENDED);
    EXPECT_EQ(posted[0].wParam, player.Serial());
  }

  FakeWindow window;
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  MessageBoxRecorder boxes;
  std::shared_ptr<ScriptedOutputState> out;
};

TEST_F(PlayerTest, BlockAlignFollowsTheChannelCount) {
  for (int channels : {1, 2, 6}) {
    MakeWav("align.wav", 22050, channels, 100);
    auto player = Prepared();
    ASSERT_NE(player->output, nullptr);
    EXPECT_EQ(out->bytesPerFrame, channels == 1 ? 2u : 4u) << channels << " channels";
    EXPECT_EQ(out->sampleRate, 22050.0f);
    EXPECT_EQ(out->channels, channels == 1 ? 1u : 2u)
        << "more than two channels are mixed to stereo";
  }
}

// Why a playback did not start, or ended before its file did, as the engine tells
// the shell; whatever it was, everything is released and the menu shows Stopped.
struct ProblemRow {
  const char* file;  // names the row; a WAV of `frames` frames is made under it unless missing
  int frames = 1000;
  bool missing = false;
  std::uint32_t deviceRows = 1;
  int startResult = 1;
  bool deviceFailed = false;
  PlaybackProblem prepared = PlaybackProblem::kNone;
  PlaybackProblem ended = PlaybackProblem::kNone;
  const char* box = nullptr;  // the one box the engine shows, where it shows one
};
void PrintTo(const ProblemRow& row, std::ostream* os) { *os << row.file; }

class PlayerProblem : public PlayerTest, public ::testing::WithParamInterface<ProblemRow> {};

TEST_P(PlayerProblem, IsToldAndEverythingIsReleased) {
  const ProblemRow& row = GetParam();
  if (row.missing) {
    Choose(TempPath(row.file));
  } else {
    MakeWav(row.file, 44100, 2, row.frames);
  }
  devices.rows = row.deviceRows;
  devices.next->startResult = row.startResult;
  devices.next->deviceFailed = row.deviceFailed;
  auto player = Prepared();
  EXPECT_EQ(player->Problem(), row.prepared);
  if (row.box != nullptr) {
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(Narrow(boxes.Boxes()[0].text), row.box);
    EXPECT_EQ(boxes.Boxes()[0].flags, 0x30u);
    EXPECT_EQ(player->decoder, nullptr);
  }
  ASSERT_TRUE(player->StartPlaybackThread());
  ExpectEndedCleanly(*player);
  EXPECT_EQ(player->Problem(), row.ended);
  if (devices.created.empty() && !displays.created.empty()) {
    EXPECT_EQ(displays.created.back()->attaches, 0) << "a display attached to no output";
  }
  if (row.ended == PlaybackProblem::kNoAudio) {
    EXPECT_EQ(out->writeCalls, 0);
  }
}

using enum PlaybackProblem;
const ProblemRow kProblems[] = {
    {.file = "Played.wav"},
    {.file = "UnknownType.txt",
     .missing = true,
     .prepared = kUnknownType,
     .ended = kUnknownType,
     .box = "Unknown file type."},
    {.file = "MissingFile.wav", .missing = true, .prepared = kCannotOpen, .ended = kCannotOpen},
    {.file = "NoDeviceRows.wav", .deviceRows = 0, .prepared = kNoOutput, .ended = kNoOutput},
    {.file = "OutputDoesNotStart.wav", .startResult = 0, .ended = kOutputDidNotStart},
    {.file = "FirstReadGivesNothing.wav", .frames = 0, .ended = kNoAudio},
    {.file = "DeviceGoneForGood.wav", .deviceFailed = true, .ended = kDeviceLost},
};
INSTANTIATE_TEST_SUITE_P(Rows, PlayerProblem, ::testing::ValuesIn(kProblems), [](const auto& info) {
  const std::string file = info.param.file;
  return file.substr(0, file.find('.'));
});

TEST_F(PlayerTest, PartlyTakenBlockIsOfferedAgainAndConsumedOnce) {
  const auto pcm = MakeWav("split.wav", 44100, 2, 1152 * 3);
  devices.next->limits = {4000};
  auto player = Prepared();
  ASSERT_TRUE(player->StartPlaybackThread());
  ExpectEndedCleanly(*player);
  EXPECT_EQ(out->written, pcm) << "the 608 bytes after the first 4000 follow them, once";
  EXPECT_EQ(out->writeCalls, 4) << "4000 + 608, then two whole blocks";
  EXPECT_EQ(displays.created.back()->consumed, pcm);
  EXPECT_EQ(displays.created.back()->consumeCalls, 3);
}

// Each row keeps the playback thread busy in its own way (or paused); a Stop must then
// return, release the output and not start it again.
struct StopCase {
  const char* name;
  void (*script)(ScriptedOutputState&);
  bool (*busy)(const ScriptedOutputState&);  // the thread has reached the state to stop in
  bool paused = false;
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class PlayerStop : public PlayerTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(PlayerStop, ReturnsAndReleasesTheOutput) {
  MakeWav("tail.wav", 44100, 2, 3000);
  GetParam().script(*devices.next);
  auto player = Prepared();
  ASSERT_TRUE(player->StartPlaybackThread());
  if (GetParam().paused) {
    player->PausePlayback();
    out->Grant(1 << 20);
  }
  ASSERT_TRUE(out->WaitUntil([&] { return GetParam().busy(*out); }));
  EXPECT_TRUE(StopsWithinBound(*player));
  EXPECT_TRUE(out->destroyed);
  EXPECT_EQ(out->startCalls, 1);
  EXPECT_EQ(window.GetMenu()->GetMenuState(IDM_STOP), kGrayed);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, PlayerStop,
    ::testing::Values(
        // The thread may already have returned: Stop must not wait for ever on it.
        StopCase{
            .name = "ThatDoesNotStart",
            .script = [](ScriptedOutputState& o) { o.startResult = 0; },
            .busy = [](const ScriptedOutputState& o) { return o.destroyed && o.writeCalls == 0; }},
        StopCase{.name = "FullSoTheEngineRetries",
                 .script = [](ScriptedOutputState& o) { o.full = true; },
                 .busy = [](const ScriptedOutputState& o) { return o.writeCalls >= 2; }},
        StopCase{.name = "WhoseQueueDrains",
                 .script = [](ScriptedOutputState& o) { o.unplayed = 8000; },
                 .busy = [](const ScriptedOutputState& o) { return o.playedQueries >= 3; }},
        StopCase{.name = "ThatIsPaused",
                 .script = [](ScriptedOutputState& o) { o.gated = true; },
                 .busy = [](const ScriptedOutputState& o) { return o.stopCalls == 1; },
                 .paused = true}),
    [](const auto& info) { return std::string(info.param.name); });

// A Pause made inside the tear-down's first step (the output's Stop) must not leave a
// paused Player with no thread behind it: Play would "resume" it and nothing sound.
TEST_F(PlayerTest, PauseFromTheTearDownOnIsRefusedAndStopAfterTheEndReturns) {
  MakeWav("short.wav", 44100, 2, 2000);
  auto player = Prepared();
  out->onStop = [&] { player->PausePlayback(); };
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(out->WaitUntil([&] { return out->destroyed; })) << "the file ends by itself";
  EXPECT_EQ(out->stopCalls, 1) << "no pause ever reached the loop";
  EXPECT_FALSE(player->IsPaused()) << "a Player with no thread left paused";
  // The end leaves stopEvent set, so a Stop made afterwards returns at once.
  EXPECT_TRUE(StopsWithinBound(*player));
  EXPECT_EQ(shell::fileReady.load(), 0) << "the end cleared fileReady; a late Pause set it again";
  player->PausePlayback();
  EXPECT_FALSE(player->IsPaused());
}

// A Pause that lands after the loop's last look at it, while the output reports the
// file played out, must not leave a paused Player without a thread either.
TEST_F(PlayerTest, APauseAfterTheLoopsLastCheckIsDroppedWithTheLoop) {
  MakeWav("short.wav", 44100, 2, 2000);
  auto player = Prepared();
  // The first look at the played bytes comes once the file is decoded; its answer,
  // "all played", ends the loop.
  std::atomic<bool> pausedOnce{false};
  out->onPlayedQuery = [&] {
    if (!pausedOnce.exchange(true)) player->PausePlayback();
  };
  ASSERT_TRUE(player->StartPlaybackThread());
  ExpectEndedCleanly(*player);
  EXPECT_TRUE(pausedOnce.load());
  EXPECT_EQ(out->stopCalls, 1) << "the pause never reached the loop";
  EXPECT_FALSE(player->IsPaused()) << "a Player with no thread left paused";
}

TEST_F(PlayerTest, EveryByteArrivesOnceAcrossFiftyPausesAtRandomMoments) {
  const auto pcm = MakeWav("cycles.wav", 44100, 2, 44100 * 6);
  devices.next->gated = true;
  auto player = Prepared();
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
  ExpectEndedCleanly(*player);
  EXPECT_TRUE(out->written == pcm) << "bytes dropped, doubled or reordered";
  EXPECT_TRUE(displays.created.back()->consumed == pcm);
  EXPECT_EQ(displays.created.back()->pauses, 50);
  EXPECT_EQ(displays.created.back()->resumes, 50);
}

TEST_F(PlayerTest, TheEndOfTheFileIsHeardBeforeTheTearDown) {
  const auto pcm = MakeWav("tail.wav", 44100, 2, 3000);
  devices.next->unplayed = 8000;
  auto player = Prepared();
  ASSERT_TRUE(player->StartPlaybackThread());
  ASSERT_TRUE(
      out->WaitUntil([&] { return out->written.size() == pcm.size() && out->playedQueries >= 3; }));
  {
    std::scoped_lock hold(out->mutex);
    EXPECT_EQ(out->stopCalls, 0) << "the output keeps playing while its queue drains";
    out->unplayed = 0;
  }
  ExpectEndedCleanly(*player);
}

}  // namespace
