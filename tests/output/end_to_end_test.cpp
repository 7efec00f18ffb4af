// Files played by the engine through the real output on SDL's disk driver, which
// writes exactly what the device played to a file. The source is index-coded, so the
// capture is compared whole, silence included.
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <unistd.h>

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
  bool WaitForCapture(std::uintmax_t bytes, const Player* player = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + support::kBound;
    while (CaptureSize() < bytes) {
      if ((player != nullptr && player->stopEvent->IsSignalled()) ||
          std::chrono::steady_clock::now() > deadline)
        return false;
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

// Hi-res files as people keep them: 24-bit FLAC with tags and cover art, WAV masters.
struct HiResCase {
  const char* name;
  int rate;
  bool flac;
  int wavFormat;
};

class HiResPlayback : public DiskCapture, public ::testing::WithParamInterface<HiResCase> {};

TEST_P(HiResPlayback, HasNoSilentGapInsideTheAudio) {
  const HiResCase& c = GetParam();
  const std::int64_t frames = c.rate * 3 / 2;
  std::string path = MakeWav(c.rate, frames, c.wavFormat);
  if (c.flac) {
    if (!support::HaveTool("flac") || !support::HaveTool("convert"))
      GTEST_SKIP() << "needs flac and convert";
    const std::string art = support::TempPath("art.png");
    const std::string flac = support::TempPath(name_ + ".flac");
    ASSERT_TRUE(support::RunTool("convert -seed 4 -size 300x300 plasma:fractal +noise Gaussian '" +
                                 art + "'"));
    ASSERT_TRUE(support::RunTool(
        "flac --silent --force --tag=ARTIST=Tonaria --tag=TITLE=Index --picture='" + art +
        "' -o '" + flac + "' '" + path + "'"));
    path = flac;
  }
  ASSERT_TRUE(Start(path));
  ASSERT_TRUE(Ended());
  EXPECT_EQ(Heard(frames, 0), "");
}

INSTANTIATE_TEST_SUITE_P(Rates, HiResPlayback,
                         ::testing::Values(HiResCase{"Flac176k4", 176400, true, SF_FORMAT_PCM_24},
                                           HiResCase{"Flac192k", 192000, true, SF_FORMAT_PCM_24},
                                           HiResCase{"Wav176k4", 176400, false, SF_FORMAT_PCM_24},
                                           HiResCase{"Wav192k", 192000, false, SF_FORMAT_PCM_16},
                                           HiResCase{"Wav384k", 384000, false, SF_FORMAT_PCM_16}),
                         [](const auto& info) { return std::string(info.param.name); });

// Slow storage: the decoder reads a WAV from a FIFO whose writer sends two seconds,
// then nothing while the device plays on for 3.5 s more (well past the silence
// behind the queued data), then the rest.
TEST_F(DiskCapture, AStalledDecoderLeavesSilenceThenGoesOnWhereItStopped) {
  constexpr int kRate = 44100;
  constexpr std::int64_t kFrames = kRate * 3;
  const std::string wav = MakeWav(kRate, kFrames);
  std::ifstream in(wav, std::ios::binary);
  const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
  const std::size_t header = file.size() - kFrames * 4;
  const std::size_t firstPart = header + kRate * 4 * 2;
  const std::string fifo = support::TempPath("slow.wav");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  bool stalled = false;
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);  // waits for the decoder to open it
    if (fd < 0) return;
    const auto send = [fd](const char* data, std::size_t bytes) {
      for (ssize_t n = 0; bytes > 0; data += n, bytes -= static_cast<std::size_t>(n)) {
        if ((n = write(fd, data, bytes)) <= 0) return;
      }
    };
    send(file.data(), firstPart);
    stalled = WaitForCapture(CaptureSize() + kRate * 4 * 7 / 2);
    send(file.data() + firstPart, file.size() - firstPart);
    close(fd);
  });
  const bool ended = Start(fifo) && Ended();
  writer.join();
  ASSERT_TRUE(ended);
  ASSERT_TRUE(stalled) << "the device did not play on through the stall";
  const index_coded::Capture heard = index_coded::ReadFile(capturePath_);
  EXPECT_EQ(index_coded::PlayedOnceInOrder(heard, kFrames, 1), "");
  ASSERT_EQ(heard.Gaps().size(), 1u);
  EXPECT_GT(heard.Gaps()[0], kRate * 3 / 2) << "the stall outlasted the silence behind the queue";
}

// Twenty pauses and resumes at random points (from a fixed random sequence) neither
// drop nor repeat a frame; each leaves at most one silent gap.
TEST_F(DiskCapture, HoldsEveryFrameOnceWhateverThePausesAndResumes) {
  constexpr int kRate = 44100;
  constexpr std::int64_t kFrames = kRate * 3;
  constexpr int wanted = 20;
  ASSERT_TRUE(Start(MakeWav(kRate, kFrames))) << "no output on SDL's disk driver";

  std::mt19937 random(20261206);
  const std::uint32_t bytesPerMs = kRate * 4 / 1000;
  std::uniform_int_distribution<std::uint32_t> playFor(1, 50);  // ms of audio between pauses
  std::uniform_int_distribution<std::uint32_t> pauseFor(0, 40);
  int pauses = 0;
  for (; pauses < wanted; ++pauses) {
    if (!WaitForCapture(CaptureSize() + playFor(random) * bytesPerMs, player_.get())) break;
    player_->PausePlayback();
    // The disk driver keeps writing silence while paused.
    WaitForCapture(CaptureSize() + pauseFor(random) * bytesPerMs, player_.get());
    player_->ResumePlayback();
  }
  EXPECT_EQ(pauses, wanted) << "the file ended before all pauses were made";
  ASSERT_TRUE(Ended());
  EXPECT_EQ(Heard(kFrames, wanted), "");
}

}  // namespace
