// The SDL device layer on SDL's disk driver: what the device plays lands in a file.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sound/direct_sound.h"

namespace sound = platform::sound;

namespace {

constexpr auto kBound = std::chrono::seconds(20);

class SdlDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TONARIA_TEST_TMP");
    const std::string dir = tmp != nullptr ? tmp : "/tmp";
    std::string mkdir = "mkdir -p '" + dir + "'";
    ASSERT_EQ(std::system(mkdir.c_str()), 0);
    capture_ = dir + "/sdl_sound_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
               std::to_string(::getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
    format_.nChannels = 1;
    format_.nSamplesPerSec = 8000;
    format_.wBitsPerSample = 16;
    format_.nBlockAlign = 2;
    format_.nAvgBytesPerSec = 16000;
  }
  void TearDown() override { std::remove(capture_.c_str()); }

  std::unique_ptr<sound::SoundBuffer> MakeBuffer(std::uint32_t bytes) {
    std::unique_ptr<sound::SoundDevice> device;
    EXPECT_EQ(sound::SdlSoundSystem().CreateDevice(nullptr, &device), sound::DS_OK);
    if (!device) return nullptr;
    sound::BufferDescription description;
    description.dwBufferBytes = bytes;
    description.lpwfxFormat = &format_;
    std::unique_ptr<sound::SoundBuffer> buffer;
    EXPECT_EQ(device->CreateSoundBuffer(description, &buffer), sound::DS_OK);
    return buffer;
  }

  // Waits, bounded, until the device has taken at least `bytes` since the cursors were at 0.
  static bool WaitForWriteCursor(sound::SoundBuffer& buffer, std::uint32_t bytes) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    std::uint32_t play = 0;
    std::uint32_t write = 0;
    while (buffer.GetCurrentPosition(&play, &write) == sound::DS_OK && write < bytes) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }

  std::vector<std::uint8_t> Capture() const {
    std::ifstream in(capture_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::string capture_;
  sound::WaveFormat format_;
};

TEST_F(SdlDisk, EnumerationReportsTheDefaultFirstWithANullGuidThenStableIdentities) {
  std::vector<std::optional<sound::Guid>> first;
  std::vector<std::optional<sound::Guid>> second;
  auto collect = [](std::vector<std::optional<sound::Guid>>& into) {
    return [&into](const sound::Guid* guid, const char16_t*, const char16_t*) {
      into.push_back(guid != nullptr ? std::optional<sound::Guid>(*guid) : std::nullopt);
      return true;
    };
  };
  ASSERT_EQ(sound::SdlSoundSystem().EnumeratePlayback(collect(first)), sound::DS_OK);
  ASSERT_EQ(sound::SdlSoundSystem().EnumeratePlayback(collect(second)), sound::DS_OK);
  ASSERT_GE(first.size(), 2u) << "the default and the disk device";
  EXPECT_FALSE(first[0].has_value());
  for (std::size_t i = 1; i < first.size(); ++i) {
    ASSERT_TRUE(first[i].has_value());
    EXPECT_FALSE(first[i]->IsNull());
    std::unique_ptr<sound::SoundDevice> device;
    EXPECT_EQ(sound::SdlSoundSystem().CreateDevice(&*first[i], &device), sound::DS_OK);
  }
  EXPECT_EQ(first, second);
  sound::Guid unknown;
  unknown.bytes[3] = 9;
  std::unique_ptr<sound::SoundDevice> none;
  EXPECT_EQ(sound::SdlSoundSystem().CreateDevice(&unknown, &none), sound::DSERR_NODRIVER);
}

TEST_F(SdlDisk, PlayLoopsOverTheBufferAndStopKeepsTheCursors) {
  constexpr std::uint32_t kBytes = 8000;  // half a second at 8 kHz mono
  auto buffer = MakeBuffer(kBytes);
  ASSERT_NE(buffer, nullptr);
  void* region1 = nullptr;
  void* region2 = nullptr;
  std::uint32_t size1 = 0;
  std::uint32_t size2 = 0;
  ASSERT_EQ(
      buffer->Lock(0, kBytes, &region1, &size1, &region2, &size2, sound::DSBLOCK_ENTIREBUFFER),
      sound::DS_OK);
  ASSERT_EQ(size1, kBytes);
  std::vector<std::uint8_t> pattern(kBytes);
  for (std::uint32_t i = 0; i < kBytes; ++i) pattern[i] = static_cast<std::uint8_t>(1 + i % 251);
  std::memcpy(region1, pattern.data(), kBytes);
  ASSERT_EQ(buffer->Unlock(region1, size1, region2, size2), sound::DS_OK);

  std::uint32_t status = 99;
  ASSERT_EQ(buffer->GetStatus(&status), sound::DS_OK);
  EXPECT_EQ(status, 0u);
  ASSERT_EQ(buffer->Play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  ASSERT_EQ(buffer->GetStatus(&status), sound::DS_OK);
  EXPECT_EQ(status, sound::DSBSTATUS_PLAYING | sound::DSBSTATUS_LOOPING);
  ASSERT_TRUE(WaitForWriteCursor(*buffer, 1000)) << "the device takes data";
  ASSERT_EQ(buffer->Stop(), sound::DS_OK);
  std::uint32_t play = 0;
  std::uint32_t write = 0;
  ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), sound::DS_OK);
  EXPECT_EQ(play, write) << "stopped: nothing is in flight";
  ASSERT_EQ(buffer->GetStatus(&status), sound::DS_OK);
  EXPECT_EQ(status, 0u);
  buffer.reset();  // closes the device and its file

  // The file holds silence while stopped, and the buffer's bytes from the start.
  std::vector<std::uint8_t> heard;
  for (std::uint8_t b : Capture()) {
    if (b != 0) heard.push_back(b);
  }
  ASSERT_EQ(heard.size(), write);
  EXPECT_TRUE(std::equal(heard.begin(), heard.end(), pattern.begin()));
}

}  // namespace
