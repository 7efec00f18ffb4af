#include "output/buffer_starter.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/manual_sound.h"

namespace sound = platform::sound;

namespace {

// Every caller's Play runs looping on the one worker, one at a time (ThreadSanitizer
// watches the hand-over), and each caller gets its own buffer's result back.
TEST(BufferStarter, PlaysLoopingOnItsOwnThreadForManyCallersAndHandsBackEachResult) {
  BufferStarter starter;
  ASSERT_TRUE(starter.Running());
  std::vector<std::shared_ptr<sound::ManualBufferState>> states;
  std::vector<std::thread> callers;
  for (int b = 0; b < 4; ++b) {
    states.push_back(std::make_shared<sound::ManualBufferState>());
    if (b == 1) states[b]->playResult = sound::DSERR_BUFFERLOST;
    callers.emplace_back([&starter, state = states[b]] {
      sound::ManualSoundBuffer buffer(state);
      for (int i = 0; i < 50; ++i)
        EXPECT_EQ(starter.RequestBufferStart(&buffer), state->playResult);
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (const auto& state : states) {
    EXPECT_EQ(state->playCalls, 50);
    EXPECT_EQ(state->playFlags, sound::DSBPLAY_LOOPING);
    EXPECT_EQ(state->playedOn, states[0]->playedOn) << "not on the worker";
  }
  EXPECT_NE(states[0]->playedOn, std::this_thread::get_id());
}

TEST(BufferStarter, AfterShutdownRequestsFail) {
  BufferStarter starter;
  starter.Shutdown();
  EXPECT_FALSE(starter.Running());
  auto state = std::make_shared<sound::ManualBufferState>();
  sound::ManualSoundBuffer buffer(state);
  EXPECT_EQ(starter.RequestBufferStart(&buffer), platform::E_FAIL);
  EXPECT_EQ(state->playCalls, 0);
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
