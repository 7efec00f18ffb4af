// The device layer on a manual clock: the test moves the cursors (collecting what was
// "heard"), and makes creation, Lock, the cursor query or Play fail, or the buffer lost.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/sound/direct_sound.h"

namespace platform::sound {

// State of one manual buffer, shared by the buffer and the test. Not thread-safe:
// the test and the code under test take turns.
struct ManualBufferState {
  // Script.
  std::uint32_t lead = 0;  // how far the write cursor runs ahead of the play cursor
  HRESULT lockResult = DS_OK, positionResult = DS_OK, playResult = DS_OK, statusResult = DS_OK;
  int restoreFailures = 0;  // Restore fails this many more times (the device is gone meanwhile)
  bool lost = false;
  std::function<void(ManualBufferState&)> onUnlock;  // runs in every Unlock, on the caller's thread

  // Device.
  std::vector<std::uint8_t> memory;
  std::uint32_t play = 0, write = 0;
  bool playing = false, released = false;
  BufferDescription description;
  WaveFormat format;

  // Record.
  std::vector<std::uint8_t> heard;  // bytes the play cursor went over while playing
  int playCalls = 0;
  std::uint32_t playFlags = 0;  // of the last Play
  std::thread::id playedOn;     // the thread of the last Play
  int restoreCalls = 0;
  std::uint64_t unlockedBytes = 0;  // sum of the regions handed back by Unlock
  std::vector<std::pair<std::uint32_t, std::uint32_t>> locks;  // (offset, bytes) of each Lock

  // Moves the device forward by `bytes` if it is playing; like the SDL device, it
  // leaves what it played silent.
  void Advance(std::uint32_t bytes);
  void SetCursors(std::uint32_t playCursor, std::uint32_t writeCursor);
  // Bytes of the buffer from offset, wrapping.
  std::vector<std::uint8_t> Read(std::uint32_t offset, std::uint32_t bytes) const;
};

class ManualSoundBuffer final : public SoundBuffer {
 public:
  explicit ManualSoundBuffer(std::shared_ptr<ManualBufferState> state) : state_(std::move(state)) {}
  ~ManualSoundBuffer() override { state_->released = true; }

  HRESULT GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override;
  HRESULT GetStatus(std::uint32_t* status) override;
  HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1, std::uint32_t* size1,
               void** region2, std::uint32_t* size2, std::uint32_t flags) override;
  HRESULT Unlock(void*, std::uint32_t, void*, std::uint32_t) override;
  HRESULT Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) override;
  HRESULT Stop() override;
  HRESULT Restore() override;
  HRESULT Flush() override;

 private:
  std::shared_ptr<ManualBufferState> state_;
};

class ManualSoundSystem final : public SoundSystem {
 public:
  // Devices reported, in order; nullopt is reported as a null GUID pointer.
  std::vector<std::optional<Guid>> playbackDevices{std::nullopt};
  std::vector<std::optional<Guid>> captureDevices;
  HRESULT createResult = DS_OK, cooperativeResult = DS_OK, bufferResult = DS_OK;
  int playbackEnumerations = 0, devicesCreated = 0, devicesAlive = 0;
  std::vector<Guid> createdWith;  // GUID of each CreateDevice (all zero for null)
  // One per buffer made, newest last; `nextBuffer` is the state the next one gets.
  std::vector<std::shared_ptr<ManualBufferState>> buffers;
  std::shared_ptr<ManualBufferState> nextBuffer = std::make_shared<ManualBufferState>();

  HRESULT EnumeratePlayback(const EnumerateCallback& callback) override;
  HRESULT EnumerateCapture(const EnumerateCallback& callback) override;
  HRESULT CreateDevice(const Guid* guid, std::unique_ptr<SoundDevice>* device) override;
};

}  // namespace platform::sound
