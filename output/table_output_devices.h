// The engine's view of the output side, over a device table and a starter.
#pragma once

#include "output/audio_device_table.h"
#include "output/buffer_starter.h"
#include "output/streaming_audio_output.h"
#include "player/playback_collaborators.h"

class TableOutputDevices final : public OutputDevices {
 public:
  TableOutputDevices(AudioDeviceTable& table, BufferStarter& starter)
      : table_(table), starter_(starter) {}

  std::uint32_t EnumerateOutputDevices() override { return table_.EnumerateOutputDevices(); }
  std::uint32_t DeviceRowCount() override { return table_.RowCount(); }
  std::unique_ptr<AudioOutput> CreateAudioOutput(float sampleRate, std::uint32_t bytesPerFrame,
                                                 std::uint32_t channels) override {
    return StreamingAudioOutput::Create(table_, starter_, sampleRate, bytesPerFrame, channels);
  }

 private:
  AudioDeviceTable& table_;
  BufferStarter& starter_;
};
