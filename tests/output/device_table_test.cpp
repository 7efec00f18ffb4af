// The device table and the buffer starter on the manual device.
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "output/buffer_starter.h"
#include "output/table_output_devices.h"
#include "tests/output/output_fixture.h"
#include "tests/support/manual_sound.h"

namespace sound = platform::sound;
using output_testing::ManualOutputTest;

namespace {

sound::Guid MakeGuid(int n) {
  sound::Guid guid;
  guid.bytes[0] = static_cast<std::uint8_t>(n);
  guid.bytes[1] = static_cast<std::uint8_t>(n >> 8);
  guid.bytes[15] = 0x5A;
  return guid;
}

using DeviceTable = ManualOutputTest;

// From a tick just before the millisecond counter's wrap-around.
TEST_F(DeviceTable, EnumeratesAtMostOnceEvery30Seconds) {
  nowMs = 0xFFFFFF00u;
  system.playbackDevices = {std::nullopt, MakeGuid(1)};
  EXPECT_EQ(table.EnumerateOutputDevices(), 2u);
  system.playbackDevices.push_back(MakeGuid(2));
  nowMs += 512;
  EXPECT_EQ(table.EnumerateOutputDevices(), 2u) << "still the cached count";
  nowMs += 30000 - 512;
  EXPECT_EQ(table.EnumerateOutputDevices(), 2u) << "still the cached count";
  EXPECT_EQ(system.playbackEnumerations, 1);
  nowMs += 1;
  EXPECT_EQ(table.EnumerateOutputDevices(), 3u);
  EXPECT_EQ(system.playbackEnumerations, 2);
  EXPECT_EQ(table.RowInfo(1).guid, MakeGuid(1)) << "rows keep their slots";
  EXPECT_EQ(table.RowInfo(2).guid, MakeGuid(2));
}

TEST_F(DeviceTable, ASingleNullCaptureDeviceIsNotCountedAndAGuidCountsOncePerDirection) {
  system.playbackDevices = {std::nullopt, MakeGuid(1)};
  system.captureDevices = {std::nullopt};
  EXPECT_EQ(table.EnumerateOutputDevices(), 2u);
  EXPECT_EQ(table.RowCount(), 3u);
  EXPECT_EQ(table.RowInfo(2).isPlayback, 0u);
  EXPECT_EQ(table.RowInfo(2).index, -1);
  system.captureDevices = {std::nullopt, MakeGuid(1)};
  nowMs += 40000;
  EXPECT_EQ(table.EnumerateOutputDevices(), 4u);
  EXPECT_EQ(table.RowCount(), 4u);
  EXPECT_EQ(table.RowInfo(2).index, 2) << "capture numbers continue after playback";
}

TEST_F(DeviceTable, TheSixtiethDeviceIsIgnored) {
  system.playbackDevices = {std::nullopt};
  for (int i = 1; i <= 60; ++i) system.playbackDevices.push_back(MakeGuid(i));
  EXPECT_EQ(table.EnumerateOutputDevices(), 59u);
  EXPECT_EQ(table.RowCount(), 59u);
  EXPECT_EQ(table.RowInfo(58).guid, MakeGuid(58));
  EXPECT_EQ(table.RowInfo(58).index, 58);
  // A device seen before keeps its row even when reported after the table filled.
  system.playbackDevices = {MakeGuid(100), MakeGuid(3), std::nullopt};
  nowMs += 40000;
  EXPECT_EQ(table.EnumerateOutputDevices(), 2u);
  EXPECT_EQ(table.RowInfo(3).index, 0);
  EXPECT_EQ(table.RowInfo(0).index, 1);
  EXPECT_EQ(table.RowInfo(5).index, -1);
}

// The manual system reports the primary device alone unless told otherwise.
TEST_F(DeviceTable, APrimaryOnlySystemCountsNothingYetItsOutputsShareTheDefaultDevice) {
  EXPECT_EQ(table.EnumerateOutputDevices(), 0u);
  EXPECT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(table.RowInfo(0).isPlayback, 1u);
  EXPECT_EQ(table.RowInfo(0).index, -1);
  TableOutputDevices devices(table, starter);
  auto first = devices.CreateAudioOutput(44100.0f, 4, 2);
  auto second = devices.CreateAudioOutput(22050.0f, 2, 1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(system.devicesCreated, 1);
  EXPECT_TRUE(system.createdWith.back().IsNull()) << "the default device";
  EXPECT_EQ(table.RowInfo(0).references, 2u);
  first.reset();
  EXPECT_EQ(system.devicesAlive, 1);
  second.reset();
  EXPECT_EQ(system.devicesAlive, 0);
  EXPECT_EQ(table.RowInfo(0).references, 0u);
}

TEST_F(DeviceTable, NoRowsOrACaptureRowFirstMakesNoOutput) {
  TableOutputDevices devices(table, starter);
  EXPECT_EQ(devices.CreateAudioOutput(44100.0f, 4, 2), nullptr) << "never enumerated";
  system.playbackDevices = {};
  system.captureDevices = {MakeGuid(9)};
  table.EnumerateOutputDevices();
  EXPECT_EQ(devices.DeviceRowCount(), 1u);
  EXPECT_EQ(devices.CreateAudioOutput(44100.0f, 4, 2), nullptr);
  EXPECT_EQ(system.devicesCreated, 0);
}

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
