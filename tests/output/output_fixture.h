// An output on the manual-clock device, with its own table and starter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "output/audio_device_table.h"
#include "output/buffer_starter.h"
#include "output/streaming_audio_output.h"
#include "tests/support/manual_sound.h"

namespace output_testing {

class ManualOutputTest : public ::testing::Test {
 protected:
  std::unique_ptr<StreamingAudioOutput> Make(float rate = 44100.0f, std::uint32_t bytesPerFrame = 4,
                                             std::uint32_t channels = 2) {
    table.EnumerateOutputDevices();
    return StreamingAudioOutput::Create(table, starter, rate, bytesPerFrame, channels);
  }
  platform::sound::ManualBufferState& Device() { return *system.buffers.back(); }

  static bool AllSilent(const std::vector<std::uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
  }

  platform::sound::ManualSoundSystem system;
  std::uint32_t nowMs = 1000;
  AudioDeviceTable table{system, [this] { return nowMs; }};
  BufferStarter starter;
};

}  // namespace output_testing
