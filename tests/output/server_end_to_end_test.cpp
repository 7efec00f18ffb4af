// Files played by the engine through a private sound server, recorded exactly as
// its sink played them. The source is index-coded, so the recording is compared whole,
// silence included: loss, repeats and gaps show directly.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "output/audio_device_table.h"
#include "output/buffer_starter.h"
#include "output/table_output_devices.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/output/index_coded.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"
#include "tests/support/private_sound_server.h"
#include "visual/spectrum_analyzer.h"
#include "visual/spectrum_analyzer_factory.h"

namespace support = testing_support;
namespace sound = platform::sound;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

class ServerPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!support::PrivateSoundServer::Available()) GTEST_SKIP() << "needs pulseaudio and parec";
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    name_ = name_.substr(name_.rfind('/') + 1);
  }

  // A server at `rate` (so that nothing is resampled) with its monitor recorded.
  bool StartServer(int rate) {
    rate_ = rate;
    server_ = std::make_unique<support::PrivateSoundServer>(rate);
    bool a = server_->Start();
    bool b = server_->StartRecording();
    return a && b;
  }

  bool Play(std::int64_t frames) { return Play(index_coded::Samples(0, frames), displays_); }
  bool Play(const std::vector<std::int16_t>& samples, DisplayFactory& displays) {
    const std::string wav = support::TempPath(name_ + ".wav");
    if (!support::WriteSoundFile(wav, rate_, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples))
      return false;
    platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                             platform::FromUtf8(wav).c_str());
    player_ = std::make_unique<Player>(PlaybackCollaborators{&devices_, &displays});
    player_->PreparePlayback();
    return player_->output != nullptr && player_->StartPlaybackThread();
  }

  bool Ended() {
    return player_->stopEvent->Wait(std::chrono::duration_cast<milliseconds>(support::kBound)) ==
           platform::WaitResult::kSignalled;
  }

  // The recording once the sink has played on a little past the end.
  index_coded::Capture Heard() {
    server_->WaitForMoreRecorded(static_cast<std::uint64_t>(rate_) * 4 / 4);
    return index_coded::Read(server_->StopRecording());
  }

  std::uint64_t BytesPerMs() const { return static_cast<std::uint64_t>(rate_) * 4 / 1000; }

  std::string name_;
  int rate_ = 44100;
  std::unique_ptr<support::PrivateSoundServer> server_;
  AudioDeviceTable table_{sound::PulseSoundSystem(), platform::TickCountMs};
  BufferStarter starter_;
  TableOutputDevices devices_{table_, starter_};
  support::RecordingDisplayFactory displays_;
  std::unique_ptr<Player> player_;
};

// Notes each moment the bottom row turns from grid and background to a bar's colour.
// rises: written by the DSP thread, read once it has ended.
class BarWatchingWindow final : public platform::ui::Window {
 public:
  platform::ui::Menu* GetMenu() override { return nullptr; }
  platform::ui::ClientSize GetClientSize() const override { return {281, 62}; }
  void PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
  void PresentFrame(std::span<const std::uint32_t> pixels, int width, int height) override {
    constexpr std::uint32_t kGrid = platform::gdi::PixelOf(SpectrumAnalyzer::kGridColor);
    const auto bottom = pixels.subspan(static_cast<std::size_t>(height - 1) * width, width);
    const bool up = std::any_of(bottom.begin(), bottom.end(),
                                [](std::uint32_t p) { return p != 0 && p != kGrid; });
    if (up && !up_) rises.push_back(std::chrono::steady_clock::now());
    up_ = up;
  }
  std::vector<std::chrono::steady_clock::time_point> rises;

 private:
  bool up_ = false;
};

// The real spectrum analyser draws into a watching window; the player ends before it.
class ServerBars : public ServerPlayback {
 protected:
  ServerBars() { shell::mainWindow = &window_; }
  ~ServerBars() override {
    player_.reset();
    shell::mainWindow = nullptr;
  }
  BarWatchingWindow window_;
};

// Tones after silence rise in the bars within about one display frame of when the sink
// plays the tone's first frame, never before it.
TEST_F(ServerBars, AToneAfterSilenceRisesInTheBarsWithinOneFrameOfTheSinkPlayingIt) {
  constexpr int kRate = 44100, kTones = 5;
  constexpr auto kDisplayFrame = microseconds(1'000'000 / SpectrumAnalyzer::kTicksPerSecond);
  ASSERT_TRUE(StartServer(kRate));
  // kTones times a second of silence (the bars fall to nothing well within it), then
  // 0.3 s of a 2 kHz tone starting at its crest; silence after the last.
  std::vector<std::int16_t> samples;
  for (int t = 0; t < kTones; ++t) {
    samples.insert(samples.end(), 2 * kRate, 0);
    for (int i = 0; i < kRate * 3 / 10; ++i)
      samples.insert(samples.end(), 2,
                     static_cast<std::int16_t>(std::lround(
                         0.7 * 32767 * std::cos(2 * std::numbers::pi * 2000.0 * i / kRate))));
  }
  samples.insert(samples.end(), 2 * kRate, 0);
  ASSERT_TRUE(Play(samples, SpectrumAnalyzers()));
  ASSERT_TRUE(player_->HasAnalyzer());
  player_->analyzer->showPeaks = 0;  // a held peak would keep the bottom row lit
  ASSERT_TRUE(Ended());
  player_.reset();

  // Where sound starts after a quarter second or more of silence.
  const std::vector<std::uint8_t> recording = server_->StopRecording();
  std::vector<std::uint64_t> onsets;
  for (std::size_t at = 0, silent = 0; at + 4 <= recording.size(); at += 4) {
    const bool quiet = std::memcmp(&recording[at], "\0\0\0\0", 4) == 0;
    if (!quiet && silent >= kRate / 4) onsets.push_back(at);
    silent = quiet ? silent + 1 : 0;
  }
  ASSERT_EQ(onsets.size(), static_cast<std::size_t>(kTones)) << "every tone heard once";
  ASSERT_EQ(window_.rises.size(), static_cast<std::size_t>(kTones)) << "every tone shows";
  // A tick shows the transform of the frames from where playback was at the tick
  // before, so a tone shows at the first tick 2.7 ms or more after it is heard: the lag
  // spreads over one display frame from there. Each may run a frame later when the
  // machine is busy; none may come before the sound (2 ms for the sink's timing).
  std::vector<microseconds> lags;
  for (int t = 0; t < kTones; ++t) {
    lags.push_back(
        std::chrono::duration_cast<microseconds>(window_.rises[t] - server_->PlayedAt(onsets[t])));
    RecordProperty("lag_us_" + std::to_string(t), static_cast<int>(lags.back().count()));
    EXPECT_GE(lags.back(), -milliseconds(2)) << "tone " << t << " showed unheard";
    EXPECT_LE(lags.back(), 2 * kDisplayFrame) << "tone " << t << " showed late";
  }
  std::sort(lags.begin(), lags.end());
  EXPECT_LE(lags[kTones / 2], kDisplayFrame) << "the median tone showed more than a frame late";
}

// Every frame heard once, in order, to the last, with no gap, at rates from
// telephone to studio.
class ServerRate : public ServerPlayback, public ::testing::WithParamInterface<int> {};

TEST_P(ServerRate, EveryFrameIsHeardOnceInOrderToTheLastWithoutAGap) {
  ASSERT_TRUE(StartServer(GetParam())) << "the server did not start at " << GetParam() << " Hz";
  const std::int64_t frames = GetParam() * 3 / 2;
  ASSERT_TRUE(Play(frames));
  ASSERT_TRUE(Ended());
  EXPECT_FALSE(player_->DeviceLost());
  EXPECT_EQ(index_coded::PlayedOnceInOrder(Heard(), frames, 0), "");
}

INSTANTIATE_TEST_SUITE_P(Rates, ServerRate, ::testing::Values(8000, 44100, 96000, 192000, 384000));

// Fifty pauses at random moments (from a fixed random sequence) lose nothing and
// repeat nothing; each leaves at most one silent gap.
TEST_F(ServerPlayback, PausesAtRandomMomentsLoseNothing) {
  ASSERT_TRUE(StartServer(44100));
  constexpr std::int64_t kFrames = 44100 * 4;
  constexpr int kWanted = 50;
  ASSERT_TRUE(Play(kFrames));
  std::mt19937 random(20261207);
  std::uniform_int_distribution<std::uint64_t> playFor(1, 40);  // ms heard between pauses
  std::uniform_int_distribution<std::uint64_t> pauseFor(0, 30);
  int pauses = 0;
  for (; pauses < kWanted && !player_->stopEvent->IsSignalled(); ++pauses) {
    if (!server_->WaitForMoreRecorded(playFor(random) * BytesPerMs())) break;
    player_->PausePlayback();
    server_->WaitForMoreRecorded(pauseFor(random) * BytesPerMs());
    player_->ResumePlayback();
  }
  EXPECT_EQ(pauses, kWanted) << "the file ended before all pauses were made";
  ASSERT_TRUE(Ended());
  EXPECT_EQ(index_coded::PlayedOnceInOrder(Heard(), kFrames, kWanted), "");
}

// A Pause is heard within 20 ms of the command, and a Play 30 ms later is heard as a
// pause: the sound stops, then goes on with the next frame.
TEST_F(ServerPlayback, APauseOfThirtyMillisecondsIsHeard) {
  ASSERT_TRUE(StartServer(44100));
  constexpr std::int64_t kFrames = 44100 * 2;
  ASSERT_TRUE(Play(kFrames));
  ASSERT_TRUE(server_->WaitForMoreRecorded(700 * BytesPerMs()));
  player_->PausePlayback();
  ASSERT_TRUE(server_->WaitForMoreRecorded(30 * BytesPerMs()));
  player_->ResumePlayback();
  ASSERT_TRUE(Ended());
  const index_coded::Capture heard = Heard();
  EXPECT_EQ(index_coded::PlayedOnceInOrder(heard, kFrames, 1), "");
  ASSERT_EQ(heard.Gaps().size(), 1u) << "the pause was not heard";
  EXPECT_GE(heard.Gaps()[0], 44100 * 10 / 1000) << "frames of silence";
  RecordProperty("gap_frames", static_cast<int>(heard.Gaps()[0]));
}

// A server killed mid-play and started again two seconds later (as when a user
// restarts it): playback goes on where the old server stopped, nothing heard twice,
// and nothing skipped beyond what the old server held when it died.
TEST_F(ServerPlayback, AServerRestartedMidPlayIsSurvived) {
  ASSERT_TRUE(StartServer(44100));
  constexpr std::int64_t kFrames = 44100 * 4;
  ASSERT_TRUE(Play(kFrames));
  ASSERT_TRUE(server_->WaitForMoreRecorded(1000 * BytesPerMs()));
  server_->Kill();
  platform::Event outage(platform::Event::Reset::kManual);
  outage.Wait(milliseconds(2000));  // the outage itself, not a wait for a condition
  ASSERT_TRUE(server_->Start() && server_->StartRecording());
  ASSERT_TRUE(Ended());
  EXPECT_FALSE(player_->DeviceLost());
  const index_coded::Capture heard = Heard();
  ASSERT_EQ(heard.damage, "");
  std::int64_t next = 0;
  std::int64_t skipped = 0;
  for (const index_coded::Stretch& s : heard.stretches) {
    if (s.silent) continue;
    ASSERT_GE(s.first, next) << "frame " << s.first << " heard again";
    skipped += s.first - next;
    next = s.first + s.frames;
  }
  EXPECT_EQ(next, kFrames) << "heard to the last frame";
  RecordProperty("skipped_frames", static_cast<int>(skipped));
  EXPECT_LE(skipped, 44100 * 400 / 1000) << "more skipped than the server held";
}

// A server gone for longer than ten seconds ends the playback, as a lost device.
TEST_F(ServerPlayback, AServerGoneForGoodEndsThePlaybackAsLost) {
  ASSERT_TRUE(StartServer(44100));
  ASSERT_TRUE(Play(44100 * 30));
  ASSERT_TRUE(server_->WaitForMoreRecorded(500 * BytesPerMs()));
  server_->Kill();
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_TRUE(Ended());
  EXPECT_GE(std::chrono::steady_clock::now() - killed, std::chrono::seconds(10));
  EXPECT_TRUE(player_->DeviceLost());
}

// The played position, which the spectrum follows, is what the sink is playing:
// sampled against the last frame the sink has put out, it is within one display
// frame of it and not ahead of it (a position counting what the server has taken
// would run a server buffer ahead).
TEST_F(ServerPlayback, ThePlayedPositionFollowsWhatTheSinkPlays) {
  ASSERT_TRUE(StartServer(44100));
  ASSERT_TRUE(Play(44100 * 6));
  ASSERT_TRUE(server_->WaitForMoreRecorded(1000 * BytesPerMs()));
  std::vector<std::int64_t> lead;  // frames the program counts as played beyond the sink's last
  platform::Event tick(platform::Event::Reset::kManual);
  for (int i = 0; i < 400; ++i) {
    const std::vector<std::uint8_t> last = server_->LastFrame();
    const std::int64_t played = player_->output->GetPlayedBytes() / 4;
    const index_coded::Capture c = index_coded::Read(last);
    if (c.stretches.size() == 1 && !c.stretches[0].silent)
      lead.push_back(played - c.stretches[0].first);
    tick.Wait(milliseconds(5));
  }
  player_->StopPlaybackThread();
  ASSERT_GT(lead.size(), 300u);
  std::sort(lead.begin(), lead.end());
  RecordProperty("lead_min", static_cast<int>(lead.front()));
  RecordProperty("lead_median", static_cast<int>(lead[lead.size() / 2]));
  RecordProperty("lead_max", static_cast<int>(lead.back()));
  // The sink puts out a block at a time, ahead of its clock, so the last frame in
  // the pipe runs up to a block ahead of what is heard; just before each block it
  // is what is heard. So near the top of the samples the program must meet the
  // pipe within one display frame (1/70 s), neither ahead of it nor behind.
  constexpr std::int64_t kFrame = 44100 / 70;
  const std::int64_t top = lead[lead.size() * 95 / 100];
  EXPECT_LE(top, kFrame) << "ahead of what the sink played, in frames";
  EXPECT_GE(top, -kFrame) << "behind what the sink played, in frames";
}

}  // namespace
