// Index-coded files played by the engine through real outputs and compared whole,
// silence included: through a private sound server as its sink played them, and from
// storage that stalls through SDL's disk driver (which writes what it played to a file).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <random>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "output/audio_device_table.h"
#include "output/buffer_starter.h"
#include "output/system_output_devices.h"
#include "output/table_output_devices.h"
#include "platform/kernel/clock.h"
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
    if (!support::PrivateSoundServer::Available()) GTEST_SKIP() << "needs pulseaudio";
  }

  // A server at `rate` (so that nothing is resampled) with its monitor recorded.
  bool StartServer(int rate) {
    rate_ = rate;
    server_ = std::make_unique<support::PrivateSoundServer>(rate);
    return server_->Start() && server_->StartRecording();
  }

  bool Play(std::int64_t frames) {
    return Play("index-" + std::to_string(rate_) + "-" + std::to_string(frames),
                index_coded::Samples(0, frames), displays_);
  }
  bool Play(const std::string& name, const std::vector<std::int16_t>& samples,
            DisplayFactory& displays) {
    const std::string wav = support::TempPath(name + ".wav");
    if (!support::WriteSoundFile(wav, rate_, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples))
      return false;
    support::SetCurrentFile(wav);
    player_ = std::make_unique<Player>(PlaybackCollaborators{&devices_, &displays});
    player_->PreparePlayback();
    return player_->output != nullptr && player_->StartPlaybackThread();
  }

  // The recording once the sink has played on a little past the end.
  index_coded::Capture Heard() {
    server_->WaitForMoreRecorded(static_cast<std::uint64_t>(rate_) * 4 / 4);
    return index_coded::Read(server_->StopRecording());
  }

  std::uint64_t BytesPerMs() const { return static_cast<std::uint64_t>(rate_) * 4 / 1000; }

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
  ASSERT_TRUE(Play("tones", samples, SpectrumAnalyzers()));
  ASSERT_TRUE(player_->HasAnalyzer());
  // A held peak would keep the bottom row lit.
  player_->ApplyDisplayFlags(0, shell::showGrids, shell::showGradient);
  ASSERT_TRUE(support::EndsByItself(*player_));
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
  // A tick analyses from where playback was at the tick before: a tone shows 2.7 ms to a
  // frame after it is heard, a frame more when busy, never before. The sink's play times
  // are dated from when the test reads its blocks, which a slow (sanitized) test reads
  // a few ms late: 6 ms allowed for that.
  std::vector<microseconds> lags;
  for (int t = 0; t < kTones; ++t) {
    lags.push_back(
        std::chrono::duration_cast<microseconds>(window_.rises[t] - server_->PlayedAt(onsets[t])));
    RecordProperty("lag_us_" + std::to_string(t), static_cast<int>(lags.back().count()));
    EXPECT_GE(lags.back(), -milliseconds(6)) << "tone " << t << " showed unheard";
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
  ASSERT_TRUE(support::EndsByItself(*player_));
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
  ASSERT_TRUE(support::EndsByItself(*player_));
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
  ASSERT_TRUE(support::EndsByItself(*player_));
  const index_coded::Capture heard = Heard();
  EXPECT_EQ(index_coded::PlayedOnceInOrder(heard, kFrames, 1), "");
  ASSERT_EQ(heard.Gaps().size(), 1u) << "the pause was not heard";
  EXPECT_GE(heard.Gaps()[0], 44100 * 10 / 1000) << "frames of silence";
  RecordProperty("gap_frames", static_cast<int>(heard.Gaps()[0]));
}

// A server killed mid-play and restarted two seconds later: playback goes on, nothing
// heard twice, nothing skipped beyond what the old server held.
TEST_F(ServerPlayback, AServerRestartedMidPlayIsSurvived) {
  ASSERT_TRUE(StartServer(44100));
  constexpr std::int64_t kFrames = 44100 * 4;
  ASSERT_TRUE(Play(kFrames));
  ASSERT_TRUE(server_->WaitForMoreRecorded(1000 * BytesPerMs()));
  server_->Kill();
  platform::Event outage(platform::Event::Reset::kManual);
  outage.Wait(milliseconds(2000));  // the outage itself, not a wait for a condition
  ASSERT_TRUE(server_->Start() && server_->StartRecording());
  ASSERT_TRUE(support::EndsByItself(*player_));
  EXPECT_FALSE(player_->DeviceLost());
  std::int64_t skipped = 0;
  EXPECT_EQ(index_coded::PlayedOnceInOrder(Heard(), kFrames, SIZE_MAX, &skipped), "");
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
  ASSERT_TRUE(support::EndsByItself(*player_));
  EXPECT_GE(std::chrono::steady_clock::now() - killed, std::chrono::seconds(10));
  EXPECT_TRUE(player_->DeviceLost());
}

// The played position, which the spectrum follows, is what the sink is playing: within
// one display frame of the last frame it put out (counting what the server has taken
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
  RecordProperty("lead_median", static_cast<int>(lead[lead.size() / 2]));
  // The sink puts out a block at a time, ahead of its clock: just before each block the
  // last frame in the pipe is what is heard. So near the top of the samples the program
  // must meet the pipe within one display frame (1/70 s), neither ahead nor behind.
  constexpr std::int64_t kFrame = 44100 / 70;
  const std::int64_t top = lead[lead.size() * 95 / 100];
  EXPECT_LE(top, kFrame) << "ahead of what the sink played, in frames";
  EXPECT_GE(top, -kFrame) << "behind what the sink played, in frames";
}

std::uintmax_t SizeOf(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

// The FIFO's writer sends two seconds, then nothing while the device plays on for
// 3.5 s (past the silence behind the queue), then the rest.
TEST(DiskCapture, AStalledDecoderLeavesSilenceThenGoesOnWhereItStopped) {
  constexpr int kRate = 44100;
  constexpr std::int64_t kFrames = kRate * 3;
  const std::string capture = support::TempPath("stalled.raw");
  // Set before this process's first use of SDL.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
  const std::string wav = support::TempPath("stalled.wav");
  ASSERT_TRUE(support::WriteSoundFile(wav, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                      index_coded::Samples(0, kFrames)));
  // Waits, bounded, until the device has played on by `bytes`.
  const auto playedOn = [&](std::uintmax_t bytes) {
    const auto deadline = std::chrono::steady_clock::now() + support::kBound;
    platform::Event poll(platform::Event::Reset::kManual);  // never signalled: a bounded poll
    for (const std::uintmax_t target = SizeOf(capture) + bytes; SizeOf(capture) < target;) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      poll.Wait(std::chrono::milliseconds(2));
    }
    return true;
  };
  support::RecordingDisplayFactory displays;
  bool ended = false, stalled = false;
  support::ThroughPipe(
      wav,
      [&](const std::string& pipe) {
        support::SetCurrentFile(pipe);
        Player player(PlaybackCollaborators{&SystemOutputDevices(), &displays});
        player.PreparePlayback();
        ended = player.output != nullptr && player.StartPlaybackThread() &&
                support::EndsByItself(player);
      },
      SizeOf(wav) - kFrames * 4 + kRate * 4 * 2, [&] { stalled = playedOn(kRate * 4 * 7 / 2); });
  ASSERT_TRUE(ended);
  ASSERT_TRUE(stalled) << "the device did not play on through the stall";
  const std::vector<char> bytes = support::ReadBytes(capture);
  const index_coded::Capture heard = index_coded::Read({bytes.begin(), bytes.end()});
  EXPECT_EQ(index_coded::PlayedOnceInOrder(heard, kFrames, 1), "");
  ASSERT_EQ(heard.Gaps().size(), 1u);
  EXPECT_GT(heard.Gaps()[0], kRate * 3 / 2) << "the stall outlasted the silence behind the queue";
}

}  // namespace
