// The process-wide table of sound devices: rows are added by enumeration (at most
// 59, never removed, each keeping its slot), and a row's device object lives while
// an output holds a reference to it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/sound/direct_sound.h"

struct AudioDeviceEntry {
  std::int32_t index = -1;  // number in the latest enumeration; -1 = not reported, or hidden
  std::uint32_t isPlayback = 0;
  std::unique_ptr<platform::sound::SoundDevice> device;  // null until acquired
  std::uint32_t references = 0;
  platform::sound::Guid guid;  // all zero for the primary device
};

class AudioDeviceTable {
 public:
  static constexpr std::uint32_t kMaxRows = 59;
  static constexpr std::uint32_t kCacheMs = 30000;

  // clockMs: a millisecond tick that wraps at 32 bits (timeGetTime's kind).
  AudioDeviceTable(platform::sound::SoundSystem& system, std::function<std::uint32_t()> clockMs);

  // Visible playback and capture devices; enumerates at most once every 30 s.
  std::uint32_t EnumerateOutputDevices();
  std::uint32_t RowCount() const;
  // The table's millisecond clock, for its users' own timing.
  std::uint32_t NowMs() const { return clockMs_(); }
  // A copy of a row's plain fields (device object left out).
  AudioDeviceEntry RowInfo(std::uint32_t slot) const;

  // Slot 0's device object, created on first use, with one more reference; null
  // on failure (the caller then calls ReleaseAudioDevice(0)).
  platform::sound::SoundDevice* AcquireAudioDevice(const void* window);
  void ReleaseAudioDevice(std::uint32_t slot);

 private:
  struct Counter {
    std::int32_t counter = 0;
    std::uint32_t isPlayback = 0;
  };
  // Caller holds mutex_.
  std::int32_t FindRow(const platform::sound::Guid* guid, std::uint32_t isPlayback) const;
  void Record(const platform::sound::Guid* guid, Counter& context);

  platform::sound::SoundSystem& system_;
  const std::function<std::uint32_t()> clockMs_;
  // The engine never prepares one playback while another output is made or
  // destroyed; the lock keeps the table whole even if that ever changes.
  mutable std::mutex mutex_;
  std::array<AudioDeviceEntry, kMaxRows> rows_;  // guarded by mutex_
  std::uint32_t rowCount_ = 0;                   // guarded by mutex_
  bool enumerated_ = false;                      // guarded by mutex_
  std::uint32_t lastEnumerationTime_ = 0;        // guarded by mutex_
  std::uint32_t cachedCount_ = 0;                // guarded by mutex_
};
