#include "tests/support/manual_sound.h"

#include <algorithm>

namespace platform::sound {

void ManualBufferState::Advance(std::uint32_t bytes) {
  if (!playing || memory.empty()) return;
  const auto size = static_cast<std::uint32_t>(memory.size());
  for (std::uint32_t i = 0; i < bytes; ++i) {
    heard.push_back(memory[play]);
    memory[play] = format.wBitsPerSample == 8 ? 0x80 : 0x00;
    play = (play + 1) % size;
  }
  write = (play + lead) % size;
}

void ManualBufferState::SetCursors(std::uint32_t playCursor, std::uint32_t writeCursor) {
  play = playCursor;
  write = writeCursor;
}

std::vector<std::uint8_t> ManualBufferState::Read(std::uint32_t offset, std::uint32_t bytes) const {
  std::vector<std::uint8_t> out;
  for (std::uint32_t i = 0; i < bytes; ++i) out.push_back(memory[(offset + i) % memory.size()]);
  return out;
}

HRESULT ManualSoundBuffer::GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) {
  if (state_->positionResult != DS_OK) return state_->positionResult;
  if (play != nullptr) *play = state_->play;
  if (write != nullptr) *write = state_->write;
  return DS_OK;
}

HRESULT ManualSoundBuffer::GetStatus(std::uint32_t* status) {
  if (state_->statusResult != DS_OK) return state_->statusResult;
  std::uint32_t s = 0;
  if (state_->playing) s |= DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
  if (state_->lost) s |= DSBSTATUS_BUFFERLOST;
  *status = s;
  return DS_OK;
}

HRESULT ManualSoundBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, void** region1,
                                std::uint32_t* size1, void** region2, std::uint32_t* size2,
                                std::uint32_t flags) {
  state_->locks.emplace_back(offset, bytes);
  if (state_->lost) return DSERR_BUFFERLOST;
  if (state_->lockResult != DS_OK) return state_->lockResult;
  return LockRegions(state_->memory.data(), static_cast<std::uint32_t>(state_->memory.size()),
                     offset, bytes, flags, region1, size1, region2, size2);
}

HRESULT ManualSoundBuffer::Unlock(void*, std::uint32_t size1, void*, std::uint32_t size2) {
  state_->unlockedBytes += std::uint64_t{size1} + size2;
  if (state_->onUnlock) state_->onUnlock(*state_);
  return DS_OK;
}

HRESULT ManualSoundBuffer::Play(std::uint32_t, std::uint32_t, std::uint32_t flags) {
  ++state_->playCalls;
  state_->playFlags = flags;
  state_->playedOn = std::this_thread::get_id();
  if (state_->lost) return DSERR_BUFFERLOST;
  if (state_->playResult != DS_OK) return state_->playResult;
  state_->playing = true;
  return DS_OK;
}

HRESULT ManualSoundBuffer::Stop() {
  state_->playing = false;
  return DS_OK;
}

HRESULT ManualSoundBuffer::Flush() {
  if (state_->lost) return DSERR_BUFFERLOST;
  std::fill(state_->memory.begin(), state_->memory.end(),
            state_->format.wBitsPerSample == 8 ? 0x80 : 0x00);
  state_->play = state_->write;
  return DS_OK;
}

HRESULT ManualSoundBuffer::Restore() {
  ++state_->restoreCalls;
  if (!state_->lost) return DS_OK;
  if (state_->restoreFailures > 0) {
    --state_->restoreFailures;
    return DSERR_BUFFERLOST;
  }
  state_->lost = false;
  state_->playing = false;
  return DS_OK;
}

namespace {

HRESULT Report(const std::vector<std::optional<Guid>>& devices, const EnumerateCallback& callback) {
  for (const auto& device : devices) {
    if (!callback(device ? &*device : nullptr, u"", u"")) break;
  }
  return DS_OK;
}

class ManualSoundDevice final : public SoundDevice {
 public:
  explicit ManualSoundDevice(ManualSoundSystem& system) : system_(system) {
    ++system_.devicesAlive;
  }
  ~ManualSoundDevice() override { --system_.devicesAlive; }

  HRESULT CreateSoundBuffer(const BufferDescription& description,
                            std::unique_ptr<SoundBuffer>* buffer) override {
    if (system_.bufferResult != DS_OK) return system_.bufferResult;
    if (description.lpwfxFormat == nullptr || description.dwBufferBytes == 0)
      return DSERR_INVALIDPARAM;
    auto state = std::move(system_.nextBuffer);
    system_.nextBuffer = std::make_shared<ManualBufferState>();
    state->description = description;
    state->format = *description.lpwfxFormat;
    state->description.lpwfxFormat = &state->format;
    state->memory.assign(description.dwBufferBytes, 0xEE);  // not silence: an unfilled buffer shows
    system_.buffers.push_back(state);
    *buffer = std::make_unique<ManualSoundBuffer>(std::move(state));
    return DS_OK;
  }
  HRESULT SetCooperativeLevel(const void*, std::uint32_t) override {
    return system_.cooperativeResult;
  }

 private:
  ManualSoundSystem& system_;
};

}  // namespace

HRESULT ManualSoundSystem::EnumeratePlayback(const EnumerateCallback& callback) {
  ++playbackEnumerations;
  return Report(playbackDevices, callback);
}

HRESULT ManualSoundSystem::EnumerateCapture(const EnumerateCallback& callback) {
  return Report(captureDevices, callback);
}

HRESULT ManualSoundSystem::CreateDevice(const Guid* guid, std::unique_ptr<SoundDevice>* device) {
  createdWith.push_back(guid != nullptr ? *guid : Guid{});
  if (createResult != DS_OK) return createResult;
  ++devicesCreated;
  *device = std::make_unique<ManualSoundDevice>(*this);
  return DS_OK;
}

}  // namespace platform::sound
