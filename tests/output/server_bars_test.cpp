// Tones after silence, played by the engine through a private sound server with the real
// spectrum analyser: the bars rise within about one display frame of when the sink plays
// the tone's first frame, never before it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

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
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"
#include "tests/support/private_sound_server.h"
#include "visual/spectrum_analyzer.h"
#include "visual/spectrum_analyzer_factory.h"

namespace support = testing_support;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 44100;
constexpr int kTones = 5;
constexpr auto kDisplayFrame =
    std::chrono::microseconds(1'000'000 / SpectrumAnalyzer::kTicksPerSecond);

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
    if (up && !up_) rises.push_back(Clock::now());
    up_ = up;
  }
  std::vector<Clock::time_point> rises;

 private:
  bool up_ = false;
};

TEST(ServerBars, AToneAfterSilenceRisesInTheBarsWithinOneFrameOfTheSinkPlayingIt) {
  if (!support::PrivateSoundServer::Available()) GTEST_SKIP() << "needs pulseaudio and parec";
  support::PrivateSoundServer server(kRate);
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(server.StartRecording());
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
  const std::string wav = support::TempPath("server_bars.wav");
  ASSERT_TRUE(support::WriteSoundFile(wav, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                           platform::FromUtf8(wav).c_str());

  BarWatchingWindow window;
  AudioDeviceTable table(platform::sound::PulseSoundSystem(), platform::TickCountMs);
  BufferStarter starter;
  TableOutputDevices devices(table, starter);
  shell::mainWindow = &window;
  {
    Player player(PlaybackCollaborators{&devices, &SpectrumAnalyzers()});
    player.PreparePlayback();
    ASSERT_TRUE(player.HasAnalyzer());
    player.analyzer->showPeaks = 0;  // a held peak would keep the bottom row lit
    ASSERT_TRUE(player.StartPlaybackThread());
    ASSERT_EQ(player.stopEvent->Wait(
                  std::chrono::duration_cast<std::chrono::milliseconds>(support::kBound)),
              platform::WaitResult::kSignalled);
  }
  shell::mainWindow = nullptr;

  // Where sound starts after a quarter second or more of silence.
  const std::vector<std::uint8_t> recording = server.StopRecording();
  std::vector<std::uint64_t> onsets;
  for (std::size_t at = 0, silent = 0; at + 4 <= recording.size(); at += 4) {
    const bool quiet = std::memcmp(&recording[at], "\0\0\0\0", 4) == 0;
    if (!quiet && silent >= kRate / 4) onsets.push_back(at);
    silent = quiet ? silent + 1 : 0;
  }
  ASSERT_EQ(onsets.size(), static_cast<std::size_t>(kTones)) << "every tone heard once";
  ASSERT_EQ(window.rises.size(), static_cast<std::size_t>(kTones)) << "every tone shows";
  // A tick shows the transform of the frames from where playback was at the tick
  // before, so a tone shows at the first tick 2.7 ms or more after it is heard: the lag
  // spreads over one display frame from there. Each may run a frame later when the
  // machine is busy; none may come before the sound (2 ms for the sink's timing).
  std::vector<std::chrono::microseconds> lags;
  for (int t = 0; t < kTones; ++t) {
    lags.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
        window.rises[t] - server.PlayedAt(onsets[t])));
    RecordProperty("lag_us_" + std::to_string(t), static_cast<int>(lags.back().count()));
    EXPECT_GE(lags.back(), -std::chrono::milliseconds(2)) << "tone " << t << " showed unheard";
    EXPECT_LE(lags.back(), 2 * kDisplayFrame) << "tone " << t << " showed late";
  }
  std::sort(lags.begin(), lags.end());
  EXPECT_LE(lags[kTones / 2], kDisplayFrame) << "the median tone showed more than a frame late";
}

}  // namespace
