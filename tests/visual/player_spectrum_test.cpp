// The real analyser behind the playback engine: frames reach the window while a file
// plays, pause and stop reach the DSP thread, and the last frame stays.
#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/fake_window.h"
#include "tests/support/playback_doubles.h"
#include "visual/spectrum_analyzer_factory.h"

namespace {

using namespace testing_support;

// Plays 44.1 kHz stereo in real time from its first Start, keeping at most a quarter
// second queued ahead, as a sound device does.
class RealTimeOutput final : public AudioOutput {
 public:
  int Start() override {
    std::scoped_lock hold(mutex_);
    if (!started_) start_ = std::chrono::steady_clock::now();
    started_ = true;
    return 1;
  }
  std::uint32_t Write(const std::uint8_t*, std::uint32_t n) override {
    std::scoped_lock hold(mutex_);
    const std::int64_t room = Played() + kQueue - written_;
    const auto taken = static_cast<std::uint32_t>(std::clamp<std::int64_t>(room, 0, n));
    written_ += taken;
    return taken;
  }
  void Stop() override {}
  void Flush() override {}
  std::int64_t GetPlayedBytes() override {
    std::scoped_lock hold(mutex_);
    return Played();
  }
  bool DeviceFailed() const override { return false; }
  std::uint32_t QueueTarget() const override { return kQueue; }
  std::uint32_t BytesPerFrame() const override { return 4; }

 private:
  static constexpr std::int64_t kQueue = 44100;
  std::int64_t Played() const {
    if (!started_) return 0;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    return std::min<std::int64_t>(us * 176400 / 1'000'000 / 4 * 4, written_);
  }
  std::mutex mutex_;
  bool started_ = false;
  std::chrono::steady_clock::time_point start_;
  std::int64_t written_ = 0;
};

class RealTimeDevices final : public OutputDevices {
 public:
  std::uint32_t EnumerateOutputDevices() override { return 1; }
  std::uint32_t DeviceRowCount() override { return 1; }
  std::unique_ptr<AudioOutput> CreateAudioOutput(float, std::uint32_t, std::uint32_t) override {
    return std::make_unique<RealTimeOutput>();
  }
};

TEST(PlayerSpectrum, FramesFollowPlaybackThroughPauseAndStop) {
  FakeWindow window(false, {281, 62});
  RealTimeDevices devices;
  shell::mainWindow = &window;  // the only test here: no one sees it once the window is gone
  shell::fileReady = 1;
  const auto samples = MakeTestSignal(44100, 2, 44100 * 2);
  const std::string path = TempPath("spectrum_player.wav");
  ASSERT_TRUE(WriteSoundFile(path, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples));
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                           platform::FromUtf8(path).c_str());

  Player player(PlaybackCollaborators{&devices, &SpectrumAnalyzers()});
  player.PreparePlayback();
  ASSERT_TRUE(player.HasAnalyzer());
  ASSERT_TRUE(player.StartPlaybackThread());
  ASSERT_TRUE(window.WaitForFrames(5)) << "the DSP thread draws into the window";

  player.PausePlayback();
  player.ResumePlayback();
  const int seen = window.FrameCount();
  EXPECT_TRUE(window.WaitForFrames(seen + 3)) << "frames go on after resume";

  auto stopped = std::async(std::launch::async, [&] { player.StopPlaybackThread(); });
  ASSERT_EQ(stopped.wait_for(kBound), std::future_status::ready);
  const auto last = window.LastFrame();
  ASSERT_EQ(last.size(), 281u * 62u);
  EXPECT_TRUE(std::any_of(last.begin(), last.end(), [](auto p) { return p != 0 && p != 0x163503; }))
      << "the last frame shows bars and stays with the window";
  EXPECT_FALSE(player.HasAnalyzer());
}

}  // namespace
