// The device layer's locked regions and device identities; the SDL device on SDL's disk
// driver (what the device plays lands in a file) and on its dummy driver.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <SDL.h>
#include <gtest/gtest.h>

#include "platform/sound/direct_sound.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"

namespace sound = platform::sound;

namespace {

using testing_support::kBound;

struct LockRow {
  const char* name;
  std::uint32_t offset, bytes, flags;
  platform::HRESULT result;
  std::uint32_t firstOffset, size1, size2;
};

class LockRegions : public ::testing::TestWithParam<LockRow> {};

TEST_P(LockRegions, SplitAtTheEnd) {
  const LockRow row = GetParam();
  std::array<std::uint8_t, 100> memory{};
  void* region1 = nullptr;
  void* region2 = reinterpret_cast<void*>(1);
  std::uint32_t size1 = 99, size2 = 99;
  const platform::HRESULT hr = sound::LockRegions(memory.data(), 100, row.offset, row.bytes,
                                                  row.flags, &region1, &size1, &region2, &size2);
  ASSERT_EQ(hr, row.result);
  if (hr != sound::DS_OK) return;
  EXPECT_EQ(region1, memory.data() + row.firstOffset);
  EXPECT_EQ(size1, row.size1);
  EXPECT_EQ(size2, row.size2);
  EXPECT_EQ(region2, row.size2 > 0 ? memory.data() : nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LockRegions,
    ::testing::Values(
        LockRow{"inside", 10, 20, 0, sound::DS_OK, 10, 20, 0},
        LockRow{"up_to_the_end", 80, 20, 0, sound::DS_OK, 80, 20, 0},
        LockRow{"crossing_the_end", 90, 30, 0, sound::DS_OK, 90, 10, 20},
        LockRow{"whole_buffer_flag", 50, 1, sound::DSBLOCK_ENTIREBUFFER, sound::DS_OK, 0, 100, 0},
        LockRow{"offset_outside", 100, 1, 0, sound::DSERR_INVALIDPARAM, 0, 0, 0},
        LockRow{"more_than_the_buffer", 0, 101, 0, sound::DSERR_INVALIDPARAM, 0, 0, 0},
        LockRow{"nothing", 5, 0, 0, sound::DSERR_INVALIDPARAM, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceIdentity, IsStableAndTellsDevicesApart) {
  EXPECT_EQ(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(true, "Speakers", 0));
  EXPECT_NE(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(true, "Speakers", 1));
  EXPECT_NE(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(false, "Speakers", 0));
  EXPECT_NE(sound::DeviceGuid(true, "Speakers", 0), sound::DeviceGuid(true, "Headset", 0));
  EXPECT_FALSE(sound::DeviceGuid(true, "", 0).IsNull());
}

class SdlDisk : public ::testing::Test {
 protected:
  void SetUp() override { SetUpDriver("disk"); }
  void SetUpDriver(const char* driver) {
    capture_ = testing_support::TempPath("sdl_sound.raw");  // a folder per test process
    setenv("SDL_AUDIODRIVER", driver, 1);
    // SDL reads the driver's name when its audio starts: an earlier test's driver must go.
    if (SDL_WasInit(SDL_INIT_AUDIO) != 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
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
    std::uint32_t play = 0, write = 0;
    while (buffer.GetCurrentPosition(&play, &write) == sound::DS_OK && write < bytes) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }

  // Writes bytes at offset (wrapping) between Lock and Unlock.
  static bool Fill(sound::SoundBuffer& buffer, std::uint32_t offset,
                   const std::vector<std::uint8_t>& bytes) {
    void *region1 = nullptr, *region2 = nullptr;
    std::uint32_t size1 = 0, size2 = 0;
    const auto n = static_cast<std::uint32_t>(bytes.size());
    if (buffer.Lock(offset, n, &region1, &size1, &region2, &size2, 0) != sound::DS_OK) return false;
    std::memcpy(region1, bytes.data(), size1);
    if (size2 > 0) std::memcpy(region2, bytes.data() + size1, size2);
    return buffer.Unlock(region1, size1, region2, size2) == sound::DS_OK;
  }

  static std::vector<std::uint8_t> Contents(sound::SoundBuffer& buffer) {
    void *region1 = nullptr, *region2 = nullptr;
    std::uint32_t size1 = 0, size2 = 0;
    std::vector<std::uint8_t> out;
    if (buffer.Lock(0, 0, &region1, &size1, &region2, &size2, sound::DSBLOCK_ENTIREBUFFER) ==
        sound::DS_OK) {
      out.assign(static_cast<std::uint8_t*>(region1), static_cast<std::uint8_t*>(region1) + size1);
      buffer.Unlock(region1, size1, region2, size2);
    }
    return out;
  }

  // The buffer's status flags; all ones when it could not be asked.
  static std::uint32_t Status(sound::SoundBuffer& buffer) {
    std::uint32_t status = ~0u;
    return buffer.GetStatus(&status) == sound::DS_OK ? status : ~0u;
  }

  static std::size_t Threads() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                      std::filesystem::directory_iterator()));
  }

  std::string capture_;
  sound::WaveFormat format_{.nChannels = 1,
                            .nSamplesPerSec = 8000,
                            .nAvgBytesPerSec = 16000,
                            .nBlockAlign = 2,
                            .wBitsPerSample = 16};
};

// SDL's dummy driver plays at real-time pace too, and is open and closed like a real one.
class SdlDummy : public SdlDisk {
 protected:
  void SetUp() override { SetUpDriver("dummy"); }
};

TEST_F(SdlDisk, EnumerationReportsTheDefaultFirstWithANullGuidThenStableIdentities) {
  std::vector<std::optional<sound::Guid>> first, second;
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

// The first period after each Play is silence: the writer of the first block has
// a whole period to put the next behind it.
TEST_F(SdlDisk, PlayTakesTheBufferInOrderAfterASilentPeriodAndStopKeepsTheCursors) {
  constexpr std::uint32_t kBytes = 16000;  // a second at 8 kHz mono
  auto buffer = MakeBuffer(kBytes);
  ASSERT_NE(buffer, nullptr);
  std::vector<std::uint8_t> pattern(kBytes);
  for (std::uint32_t i = 0; i < kBytes; ++i) pattern[i] = static_cast<std::uint8_t>(1 + i % 251);
  ASSERT_TRUE(Fill(*buffer, 0, pattern));

  EXPECT_EQ(Status(*buffer), 0u);
  ASSERT_EQ(buffer->Play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  EXPECT_EQ(Status(*buffer), sound::DSBSTATUS_PLAYING | sound::DSBSTATUS_LOOPING);
  ASSERT_TRUE(WaitForWriteCursor(*buffer, 1000)) << "the device takes data";
  ASSERT_EQ(buffer->Stop(), sound::DS_OK);
  std::uint32_t play = 0, write = 0;
  ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), sound::DS_OK);
  EXPECT_EQ(play, write) << "stopped: nothing is in flight";
  EXPECT_EQ(Status(*buffer), 0u) << "stopped, and not lost";
  const std::vector<std::uint8_t> left = Contents(*buffer);
  EXPECT_TRUE(std::all_of(left.begin(), left.begin() + write, [](std::uint8_t b) {
    return b == 0;
  })) << "what the device took is left silent";
  EXPECT_TRUE(std::equal(left.begin() + write, left.end(), pattern.begin() + write));
  ASSERT_EQ(buffer->Play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  ASSERT_TRUE(WaitForWriteCursor(*buffer, write + 1000)) << "the device goes on";
  buffer.reset();  // closes the device and its file

  // The file: silence, the bytes taken before Stop, silence, the bytes taken after.
  const std::vector<char> raw = testing_support::ReadBytes(capture_);
  const std::vector<std::uint8_t> heard(raw.begin(), raw.end());
  auto audible = [](std::uint8_t b) { return b != 0; };
  const auto first = std::find_if(heard.begin(), heard.end(), audible);
  ASSERT_GT(static_cast<std::size_t>(heard.end() - first), write);
  EXPECT_TRUE(std::equal(first, first + write, pattern.begin()));
  EXPECT_EQ(first[write], 0) << "the first period after Play is not silence";
  const auto again = std::find_if(first + write, heard.end(), audible);
  ASSERT_GE(heard.end() - again, 1000);
  EXPECT_TRUE(std::equal(again, again + 1000, pattern.begin() + write));
}

// Run under ThreadSanitizer, this is the check that a writer working right at the
// device's write cursor and the device's callback never touch the buffer at once.
TEST_F(SdlDisk, AWriterAtTheWriteCursorAndTheCallbackTakeTurns) {
  constexpr std::uint32_t kBytes = 8000;
  auto buffer = MakeBuffer(kBytes);
  ASSERT_NE(buffer, nullptr);
  ASSERT_EQ(buffer->Play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  const std::vector<std::uint8_t> block(512, 0x5A);
  std::uint32_t taken = 0;  // bytes the device took, over laps
  std::uint32_t last = 0;
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (taken < 4000 && std::chrono::steady_clock::now() < deadline) {
    std::uint32_t play = 0, write = 0;
    ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), sound::DS_OK);
    taken += (write + kBytes - last) % kBytes;
    last = write;
    ASSERT_TRUE(Fill(*buffer, write, block));
  }
  EXPECT_GE(taken, 4000u);
  buffer->Stop();
}

TEST_F(SdlDummy, AStoppedBufferKeepsNoAudioThreadAwake) {
  auto buffer = MakeBuffer(8000);
  ASSERT_NE(buffer, nullptr);
  ASSERT_EQ(buffer->Play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  const std::size_t playing = Threads();
  ASSERT_TRUE(WaitForWriteCursor(*buffer, 500));
  ASSERT_EQ(buffer->Stop(), sound::DS_OK);
  // A thread that ended may linger in /proc for a moment.
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (Threads() != playing - 1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_EQ(Threads(), playing - 1)
      << "the device's thread ends: a paused device wakes it every period";
  EXPECT_EQ(Status(*buffer), 0u) << "stopped, not lost";
  std::uint32_t play = 0, write = 0;
  ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), sound::DS_OK);
  ASSERT_EQ(buffer->Play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  EXPECT_EQ(Threads(), playing);
  EXPECT_TRUE(WaitForWriteCursor(*buffer, write + 500)) << "Play goes on from where it stopped";
}

}  // namespace
