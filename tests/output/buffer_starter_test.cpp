#include "output/buffer_starter.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace sound = platform::sound;

namespace {

// Records where and how Play was called; everything else is unused.
class PlayRecorder final : public sound::SoundBuffer {
 public:
  platform::HRESULT playResult = sound::DS_OK;
  std::thread::id playedOn;
  std::uint32_t flags = 0;
  int plays = 0;

  platform::HRESULT Play(std::uint32_t, std::uint32_t, std::uint32_t playFlags) override {
    playedOn = std::this_thread::get_id();
    flags = playFlags;
    ++plays;
    return playResult;
  }
  platform::HRESULT GetCurrentPosition(std::uint32_t*, std::uint32_t*) override {
    return sound::DSERR_GENERIC;
  }
  platform::HRESULT GetStatus(std::uint32_t*) override { return sound::DSERR_GENERIC; }
  platform::HRESULT Lock(std::uint32_t, std::uint32_t, void**, std::uint32_t*, void**,
                         std::uint32_t*, std::uint32_t) override {
    return sound::DSERR_GENERIC;
  }
  platform::HRESULT Unlock(void*, std::uint32_t, void*, std::uint32_t) override {
    return sound::DSERR_GENERIC;
  }
  platform::HRESULT Stop() override { return sound::DS_OK; }
  platform::HRESULT Restore() override { return sound::DS_OK; }
  platform::HRESULT Flush() override { return sound::DS_OK; }
};

// Every caller's Play runs looping on the one worker, one at a time (ThreadSanitizer
// watches the hand-over), and each caller gets its own buffer's result back.
TEST(BufferStarter, PlaysLoopingOnItsOwnThreadForManyCallersAndHandsBackEachResult) {
  BufferStarter starter;
  ASSERT_TRUE(starter.Running());
  PlayRecorder buffers[4];
  buffers[1].playResult = sound::DSERR_BUFFERLOST;
  std::vector<std::thread> callers;
  for (PlayRecorder& buffer : buffers) {
    callers.emplace_back([&starter, &buffer] {
      for (int i = 0; i < 50; ++i)
        EXPECT_EQ(starter.RequestBufferStart(&buffer), buffer.playResult);
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (const PlayRecorder& buffer : buffers) {
    EXPECT_EQ(buffer.plays, 50);
    EXPECT_EQ(buffer.flags, sound::DSBPLAY_LOOPING);
    EXPECT_EQ(buffer.playedOn, buffers[0].playedOn) << "not on the worker";
  }
  EXPECT_NE(buffers[0].playedOn, std::this_thread::get_id());
}

TEST(BufferStarter, AfterShutdownRequestsFail) {
  BufferStarter starter;
  starter.Shutdown();
  EXPECT_FALSE(starter.Running());
  PlayRecorder buffer;
  EXPECT_EQ(starter.RequestBufferStart(&buffer), platform::E_FAIL);
  EXPECT_EQ(buffer.plays, 0);
  starter.Shutdown();  // twice is harmless
}

// Looks for the worker among the process's threads without asking for the process's
// starter, which would start it there and then.
TEST(BufferStarter, TheProcessStarterRunsFromStartUp) {
  int workers = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name == BufferStarter::kThreadName) ++workers;
  }
  EXPECT_EQ(workers, 1);
}

}  // namespace
