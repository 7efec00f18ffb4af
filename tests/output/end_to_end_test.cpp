// Files played by the engine through the real output on SDL's disk driver, which
// writes exactly what the device played to a file. The source is index-coded, so the
// capture is compared whole, silence included.
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "output/system_output_devices.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/output/index_coded.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace support = testing_support;

namespace {

class DiskCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    name_ = name_.substr(name_.rfind('/') + 1);
    capturePath_ = support::TempPath(name_ + ".raw");
    // Set before this process's first use of SDL; each test has its own capture file.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capturePath_.c_str(), 1);
  }

  // An index-coded stereo WAV of `frames` frames at `rate`.
  std::string MakeWav(int rate, std::int64_t frames, int format = SF_FORMAT_PCM_16) {
    const std::string wav = support::TempPath(name_ + ".wav");
    EXPECT_TRUE(support::WriteSoundFile(wav, rate, 2, SF_FORMAT_WAV | format,
                                        index_coded::Samples(0, frames)));
    return wav;
  }

  // Starts the engine on path through the disk driver; false when it could not.
  bool Start(const std::string& path) {
    platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                             platform::FromUtf8(path).c_str());
    player_ = std::make_unique<Player>(PlaybackCollaborators{&SystemOutputDevices(), &displays_});
    player_->PreparePlayback();
    return player_->output != nullptr && player_->StartPlaybackThread();
  }
  bool Ended() {
    return player_->stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(
               support::kBound)) == platform::WaitResult::kSignalled;
  }
  // "" when the capture holds the file's frames once, in order, with at most maxGaps gaps.
  std::string Heard(std::int64_t frames, std::size_t maxGaps) {
    return index_coded::PlayedOnceInOrder(index_coded::ReadFile(capturePath_), frames, maxGaps);
  }

  std::uintmax_t CaptureSize() const {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(capturePath_, error);
    return error ? 0 : size;
  }

  // Waits, bounded, until the capture file has grown to at least `bytes`.
  bool WaitForCapture(std::uintmax_t bytes) {
    const auto deadline = std::chrono::steady_clock::now() + support::kBound;
    while (CaptureSize() < bytes) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      poll_.Wait(std::chrono::milliseconds(2));  // never signalled: a bounded poll
    }
    return true;
  }

  std::string name_;
  std::string capturePath_;
  support::RecordingDisplayFactory displays_;
  std::unique_ptr<Player> player_;
  platform::Event poll_{platform::Event::Reset::kManual};
};

// Hi-res WAV masters. (How FLAC with tags and pictures plays is the corpus's part.)
struct HiResCase {
  const char* name;
  int rate;
  int wavFormat = SF_FORMAT_PCM_16;
};

class HiResPlayback : public DiskCapture, public ::testing::WithParamInterface<HiResCase> {};

TEST_P(HiResPlayback, HasNoSilentGapInsideTheAudio) {
  const HiResCase& c = GetParam();
  const std::int64_t frames = c.rate * 3 / 2;
  ASSERT_TRUE(Start(MakeWav(c.rate, frames, c.wavFormat)));
  ASSERT_TRUE(Ended());
  EXPECT_EQ(Heard(frames, 0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rates, HiResPlayback,
    ::testing::Values(HiResCase{.name = "Wav176k4", .rate = 176400, .wavFormat = SF_FORMAT_PCM_24},
                      HiResCase{.name = "Wav192k", .rate = 192000},
                      HiResCase{.name = "Wav384k", .rate = 384000}),
    [](const auto& info) { return std::string(info.param.name); });

// Slow storage: the decoder reads a WAV from a FIFO whose writer sends two seconds,
// then nothing while the device plays on for 3.5 s more (well past the silence
// behind the queued data), then the rest.
TEST_F(DiskCapture, AStalledDecoderLeavesSilenceThenGoesOnWhereItStopped) {
  constexpr int kRate = 44100;
  constexpr std::int64_t kFrames = kRate * 3;
  const std::string wav = MakeWav(kRate, kFrames);
  const std::size_t header = std::filesystem::file_size(wav) - kFrames * 4;
  bool ended = false, stalled = false;
  support::ThroughPipe(
      wav, [&](const std::string& pipe) { ended = Start(pipe) && Ended(); }, header + kRate * 4 * 2,
      [&] { stalled = WaitForCapture(CaptureSize() + kRate * 4 * 7 / 2); });
  ASSERT_TRUE(ended);
  ASSERT_TRUE(stalled) << "the device did not play on through the stall";
  const index_coded::Capture heard = index_coded::ReadFile(capturePath_);
  EXPECT_EQ(index_coded::PlayedOnceInOrder(heard, kFrames, 1), "");
  ASSERT_EQ(heard.Gaps().size(), 1u);
  EXPECT_GT(heard.Gaps()[0], kRate * 3 / 2) << "the stall outlasted the silence behind the queue";
}

}  // namespace
