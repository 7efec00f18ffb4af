// What the engine and the shell call on the sound output and on the spectrum
// display, and nothing more. The real ones live in output/ and visual/; tests
// substitute scripted ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/ui/window.h"

class AudioDataConsumer;

// One streaming output per playback, owned by the Player. Start, Write and Stop are
// called on the playback thread; GetPlayedBytes on the display's DSP thread.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;  // DestroyAudioOutput: releases buffer and device

  // Playback begins or resumes; nonzero on success. May follow Stop.
  virtual int Start() = 0;
  // Takes as much of data as fits now, from the front; 0 = no room now, or failure.
  virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t byteCount) = 0;
  // Stops playing; what is queued stays queued for the next Start.
  virtual void Stop() = 0;
  // Stopped: drops what is queued, here and in the device, so that the next Write is
  // heard next. Everything written so far then counts as played.
  virtual void Flush() = 0;
  // Bytes written so far minus those still queued ahead of the device.
  virtual std::int64_t GetPlayedBytes() = 0;
  // True once the device is gone for good: no later Write will ever take a byte.
  virtual bool DeviceFailed() const = 0;

  // Fixed at creation.
  virtual std::uint32_t QueueTarget() const = 0;
  virtual std::uint32_t BytesPerFrame() const = 0;
};

// The output side's process-wide device table, as the engine sees it.
class OutputDevices {
 public:
  virtual ~OutputDevices() = default;
  // Refreshes the table (at most once every 30 s); the count of visible devices.
  virtual std::uint32_t EnumerateOutputDevices() = 0;
  // Rows in the table, whatever the visible count; an output is made only above 0.
  virtual std::uint32_t DeviceRowCount() = 0;
  // A stopped output for 16-bit PCM with that frame size, or null.
  virtual std::unique_ptr<AudioOutput> CreateAudioOutput(float sampleRate,
                                                         std::uint32_t bytesPerFrame,
                                                         std::uint32_t channels) = 0;
};

// The spectrum display of one playback (the SpectrumAnalyzer).
class SpectrumDisplay {
 public:
  virtual ~SpectrumDisplay() = default;  // called after Detach

  // Builds the consumer, starts its DSP thread following output, sets consumerActive.
  virtual void Attach(AudioOutput* output) = 0;
  // Stops the DSP thread and destroys the consumer; harmless when there is none.
  virtual void Detach() = 0;
  // The consumer, or null when none exists.
  virtual AudioDataConsumer* Consumer() = 0;
  // True while blocks are to be handed to Consumer().
  virtual bool ConsumerActive() const = 0;
  // Pauses the DSP thread if it runs; resumes it if it was paused. Playback thread.
  virtual void PauseDspThread() = 0;
  virtual void ResumeDspThread() = 0;

  // Display flags: written by the window's thread at any time, read at every frame.
  std::atomic<std::uint8_t> showPeaks{1};
  std::atomic<std::uint8_t> showGrids{1};
  std::atomic<std::uint8_t> showGradient{1};
};

class DisplayFactory {
 public:
  virtual ~DisplayFactory() = default;
  virtual std::unique_ptr<SpectrumDisplay> CreateSpectrumAnalyzer(platform::ui::HWND window) = 0;
};

struct PlaybackCollaborators {
  OutputDevices* outputs = nullptr;
  DisplayFactory* displays = nullptr;
};

// Displays that show nothing and do no work: for a program that has no window.
DisplayFactory& BlankDisplays();

// What a Player made without arguments uses. Until the program installs its own,
// there is no sound device and the display draws nothing.
PlaybackCollaborators DefaultCollaborators();
void SetDefaultCollaborators(PlaybackCollaborators collaborators);
