// An index-coded file from storage that stalls, played by the engine through the real
// output on SDL's disk driver (which writes what it played to a file), compared whole.
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "output/system_output_devices.h"
#include "player/player.h"
#include "tests/output/index_coded.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace support = testing_support;

namespace {

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
