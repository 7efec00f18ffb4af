// A WAV file played by the engine through the real output on SDL's disk driver,
// which writes exactly what the device played to a file.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "output/system_output_devices.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace support = testing_support;

namespace {

constexpr int kRate = 22050;
constexpr int kChannels = 2;
constexpr int kFrames = kRate * 3;

class DiskCapture : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    name = name.substr(name.rfind('/') + 1);
    capturePath_ = support::TempPath(name + ".raw");
    // Set before this process's first use of SDL; each test has its own capture file.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capturePath_.c_str(), 1);
    signal_ = support::MakeTestSignal(kRate, kChannels, kFrames, 5);
    for (std::int16_t& sample : signal_) {
      if (sample == 0) sample = 1;  // silence in the capture is then never the file's
    }
    const std::string wav = support::TempPath(name + ".wav");
    ASSERT_TRUE(
        support::WriteSoundFile(wav, kRate, kChannels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, signal_));
    platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                             platform::FromUtf8(wav).c_str());
  }

  std::uintmax_t CaptureSize() const {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(capturePath_, error);
    return error ? 0 : size;
  }

  // The capture as samples, with every silent sample set aside.
  std::vector<std::int16_t> HeardSamples() const {
    std::ifstream in(capturePath_, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::vector<std::int16_t> heard;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                    (static_cast<std::uint8_t>(bytes[i + 1]) << 8));
      if (sample != 0) heard.push_back(sample);
    }
    return heard;
  }

  // Waits, bounded, until the capture file has grown to at least `bytes`.
  bool WaitForCapture(std::uintmax_t bytes, Player& player) {
    const auto deadline = std::chrono::steady_clock::now() + support::kBound;
    while (CaptureSize() < bytes) {
      if (player.stopEvent->IsSignalled() || std::chrono::steady_clock::now() > deadline)
        return false;
      poll_.Wait(std::chrono::milliseconds(2));  // never signalled: a bounded poll
    }
    return true;
  }

  std::string capturePath_;
  std::vector<std::int16_t> signal_;
  support::RecordingDisplayFactory displays_;
  platform::Event poll_{platform::Event::Reset::kManual};
};

// Pauses and resumes at random points (from a fixed random sequence) must neither drop nor
// repeat a sample of what the device plays.
TEST_P(DiskCapture, CaptureIsTheFilesPcmWhateverThePausesAndResumes) {
  const int wanted = GetParam();
  Player player(PlaybackCollaborators{&SystemOutputDevices(), &displays_});
  player.PreparePlayback();
  ASSERT_NE(player.output, nullptr) << "no output on SDL's disk driver";
  ASSERT_TRUE(player.StartPlaybackThread());

  std::mt19937 random(20261206);
  const std::uint32_t bytesPerMs = kRate * kChannels * 2 / 1000;
  std::uniform_int_distribution<std::uint32_t> playFor(1, 50);  // ms of audio between pauses
  std::uniform_int_distribution<std::uint32_t> pauseFor(0, 40);
  int pauses = 0;
  for (; pauses < wanted; ++pauses) {
    if (!WaitForCapture(CaptureSize() + playFor(random) * bytesPerMs, player)) break;
    player.PausePlayback();
    // The disk driver keeps writing silence while paused.
    WaitForCapture(CaptureSize() + pauseFor(random) * bytesPerMs, player);
    player.ResumePlayback();
  }
  EXPECT_EQ(pauses, wanted) << "the file ended before all pauses were made";
  ASSERT_EQ(player.stopEvent->Wait(
                std::chrono::duration_cast<std::chrono::milliseconds>(support::kBound)),
            platform::WaitResult::kSignalled);
  const std::vector<std::int16_t> heard = HeardSamples();
  ASSERT_EQ(heard.size(), signal_.size());
  EXPECT_TRUE(heard == signal_) << "the capture differs from the file";
}

INSTANTIATE_TEST_SUITE_P(Pauses, DiskCapture, ::testing::Values(0, 20));

}  // namespace
