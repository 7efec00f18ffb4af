// The device layer over SDL2 audio. Each sound buffer opens its own SDL device in
// the buffer's format (SDL converts to what the hardware takes); SDL's callback
// copies from the looping buffer at the write cursor, leaves what it took silent and
// moves the cursors on. A stopped buffer closes its device, so a pause costs nothing.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <errno.h>  // program_invocation_short_name
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <SDL.h>
#include <dlfcn.h>

#include "platform/kernel/text.h"
#include "platform/sound/direct_sound.h"

namespace platform::sound {
namespace {

// Guards SDL's audio subsystem set-up, driver choice and device open/close.
std::mutex sdlMutex;
int openDevices = 0;         // guarded by sdlMutex
bool onDummyDriver = false;  // guarded by sdlMutex

bool DriverChosenByUser() {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  return driver != nullptr && driver[0] != '\0';
}

// Caller holds sdlMutex.
bool SwitchToDummyDriver() {
  if (SDL_WasInit(SDL_INIT_AUDIO) != 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
  onDummyDriver = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  static bool told = false;  // guarded by sdlMutex
  if (onDummyDriver && !told) {
    // Playback goes on in silence; say why once, so a user without sound knows.
    std::fprintf(stderr, "%s: no sound device could be opened; playing without sound\n",
                 program_invocation_short_name);
    told = true;
  }
  return onDummyDriver;
}

void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

void SdlLogLine(void*, int, SDL_LogPriority, const char* message) {
  while (*message == ' ' || *message == '\t') ++message;
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message);
}

// Without a sound card, ALSA prints lines of its own ("ALSA lib ...") while SDL
// probes it; what the user needs to know is the one notice of the fallback above.
// What SDL itself logs goes out as the program's own lines.
void QuietSoundLibraries() {
  static const bool quieted = [] {
    SDL_LogSetOutputFunction(SdlLogLine, nullptr);
    // Never closed: the library keeps a pointer to our handler.
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (alsa == nullptr) return false;
    using SetHandler = int (*)(decltype(&SilentAlsaError));
    const auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    return set != nullptr && set(SilentAlsaError) == 0;
  }();
  (void)quieted;
}

// Caller holds sdlMutex. With no sound system at all the program still plays, at
// real-time pace, on SDL's dummy driver, unless the user named a driver.
bool EnsureAudio() {
  if (SDL_WasInit(SDL_INIT_AUDIO) != 0) return true;
  QuietSoundLibraries();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) return true;
  return !DriverChosenByUser() && SwitchToDummyDriver();
}

std::vector<std::string> DeviceNames(bool isPlayback) {
  std::scoped_lock hold(sdlMutex);
  std::vector<std::string> names;
  if (!EnsureAudio()) return names;
  const int count = SDL_GetNumAudioDevices(isPlayback ? 0 : 1);
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, isPlayback ? 0 : 1);
    names.emplace_back(name != nullptr ? name : "");
  }
  return names;
}

std::vector<Guid> Identities(bool isPlayback, const std::vector<std::string>& names) {
  std::vector<Guid> guids;
  for (std::size_t i = 0; i < names.size(); ++i) {
    int occurrence = 0;
    for (std::size_t j = 0; j < i; ++j) occurrence += names[j] == names[i] ? 1 : 0;
    guids.push_back(DeviceGuid(isPlayback, names[i].c_str(), occurrence));
  }
  return guids;
}

HRESULT Report(bool isPlayback, const EnumerateCallback& callback) {
  const std::vector<std::string> names = DeviceNames(isPlayback);
  const std::vector<Guid> guids = Identities(isPlayback, names);
  if (!callback(nullptr, isPlayback ? u"Primary Sound Driver" : u"Primary Sound Capture Driver",
                u""))
    return DS_OK;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!callback(&guids[i], FromUtf8(names[i]).c_str(), u"")) break;
  }
  return DS_OK;
}

SDL_AudioFormat SdlFormat(const WaveFormat& format) {
  switch (format.wBitsPerSample) {
    case 8:
      return AUDIO_U8;
    case 16:
      return AUDIO_S16LSB;
    case 32:
      return AUDIO_S32LSB;
    default:
      return 0;
  }
}

class SdlSoundBuffer final : public SoundBuffer {
 public:
  SdlSoundBuffer(std::optional<std::string> deviceName, const WaveFormat& format,
                 std::uint32_t bytes)
      : deviceName_(std::move(deviceName)),
        format_(format),
        silence_(format.wBitsPerSample == 8 ? 0x80 : 0x00),
        memory_(bytes, silence_) {}
  ~SdlSoundBuffer() override { CloseDevice(); }

  HRESULT OpenDevice(bool mayFallBack);

  HRESULT GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override {
    const std::uint64_t cursors = cursors_.load(std::memory_order_acquire);
    if (play != nullptr) *play = static_cast<std::uint32_t>(cursors >> 32);
    if (write != nullptr) *write = static_cast<std::uint32_t>(cursors);
    return DS_OK;
  }

  HRESULT GetStatus(std::uint32_t* status) override {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    std::uint32_t s = playing_.load() ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : 0;
    if (Lost()) s |= DSBSTATUS_BUFFERLOST;
    *status = s;
    return DS_OK;
  }

  // Holds the callback off until Unlock: the two never touch the memory at once.
  HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1, std::uint32_t* size1,
               void** region2, std::uint32_t* size2, std::uint32_t flags) override {
    if (Lost()) return DSERR_BUFFERLOST;
    if (locked_.owns_lock()) return DSERR_INVALIDPARAM;  // one lock at a time
    std::unique_lock hold(memoryMutex_);
    const HRESULT hr = LockRegions(memory_.data(), static_cast<std::uint32_t>(memory_.size()),
                                   offset, bytes, flags, region1, size1, region2, size2);
    if (hr == DS_OK) locked_ = std::move(hold);
    return hr;
  }

  HRESULT Unlock(void*, std::uint32_t, void*, std::uint32_t) override {
    if (locked_.owns_lock()) locked_.unlock();
    return DS_OK;
  }

  HRESULT Play(std::uint32_t, std::uint32_t, std::uint32_t) override {
    if (Lost()) return DSERR_BUFFERLOST;
    if (parked_) {
      // Stopped with its device closed: open it again; failing that, it is lost.
      parked_ = false;
      if (OpenDevice(false) != DS_OK) return DSERR_BUFFERLOST;
    }
    if (!playing_.exchange(true)) startPending_ = true;
    SDL_PauseAudioDevice(device_, 0);
    return DS_OK;
  }

  HRESULT Stop() override {
    playing_ = false;
    if (device_ != 0) {
      if (keepOpenWhenStopped_) {
        SDL_PauseAudioDevice(device_, 1);  // returns once no callback runs
      } else {
        // A paused SDL device still wakes its thread for every period; a closed one
        // costs nothing until Play opens it again.
        CloseDevice();
        parked_ = true;
      }
    }
    // What the device took has been handed on: Play continues after it.
    const std::uint64_t cursors = cursors_.load(std::memory_order_acquire);
    const std::uint64_t write = cursors & 0xffffffffu;
    cursors_.store((write << 32) | write, std::memory_order_release);
    return DS_OK;
  }

  // The callback reads under memoryMutex_, so it sees either the old queue or none.
  HRESULT Flush() override {
    std::scoped_lock hold(memoryMutex_);
    std::fill(memory_.begin(), memory_.end(), silence_);
    const std::uint64_t write = cursors_.load(std::memory_order_acquire) & 0xffffffffu;
    cursors_.store((write << 32) | write, std::memory_order_release);
    return DS_OK;
  }

  HRESULT Restore() override {
    if (!Lost()) return DS_OK;
    playing_ = false;
    CloseDevice();
    return OpenDevice(false);
  }

 private:
  static void SDLCALL Feed(void* self, Uint8* stream, int len);

  bool Lost() const {
    if (parked_) return false;
    return device_ == 0 || SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
  }

  void CloseDevice() {
    if (device_ == 0) return;
    std::scoped_lock hold(sdlMutex);
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    --openDevices;
  }

  const std::optional<std::string> deviceName_;  // nullopt = the default device
  const WaveFormat format_;
  const std::uint8_t silence_;
  std::mutex memoryMutex_;  // held by the callback while it reads, and from Lock to Unlock
  std::vector<std::uint8_t> memory_;                                    // guarded by memoryMutex_
  std::unique_lock<std::mutex> locked_{memoryMutex_, std::defer_lock};  // owner's thread
  // Owner's thread (and the starter's Play, which the owner waits for).
  SDL_AudioDeviceID device_ = 0;
  bool parked_ = false;                    // stopped with the device closed
  bool keepOpenWhenStopped_ = false;       // fixed when the device is first opened
  std::atomic<std::uint64_t> cursors_{0};  // play << 32 | write; the callback moves them
  std::atomic<bool> playing_{false};
  // Set by Play when the device starts: its first period is silence, so that the
  // writer has a whole period to put more behind the first block it wrote.
  std::atomic<bool> startPending_{false};
};

// Copies the next period from the write cursor and leaves those bytes silent behind
// it: a writer that falls behind by more than the buffer is then heard as silence,
// never as audio from a lap ago.
void SDLCALL SdlSoundBuffer::Feed(void* self, Uint8* stream, int len) {
  auto* buffer = static_cast<SdlSoundBuffer*>(self);
  if (buffer->startPending_.exchange(false)) {
    std::memset(stream, buffer->silence_, static_cast<std::size_t>(len));
    return;
  }
  std::scoped_lock hold(buffer->memoryMutex_);
  const auto size = static_cast<std::uint32_t>(buffer->memory_.size());
  const std::uint32_t start =
      static_cast<std::uint32_t>(buffer->cursors_.load(std::memory_order_relaxed));
  std::uint32_t pos = start;
  auto left = static_cast<std::uint32_t>(len);
  while (left > 0) {
    const std::uint32_t run = std::min(left, size - pos);
    std::uint8_t* from = buffer->memory_.data() + pos;
    std::memcpy(stream, from, run);
    std::memset(from, buffer->silence_, run);
    stream += run;
    left -= run;
    pos = (pos + run) % size;
  }
  buffer->cursors_.store((static_cast<std::uint64_t>(start) << 32) | pos,
                         std::memory_order_release);
}

HRESULT SdlSoundBuffer::OpenDevice(bool mayFallBack) {
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(format_.nSamplesPerSec);
  want.format = SdlFormat(format_);
  want.channels = static_cast<Uint8>(format_.nChannels);
  Uint16 samples = 64;
  while (samples < 4096 && samples < format_.nSamplesPerSec / 50)
    samples = static_cast<Uint16>(samples * 2);
  want.samples = samples;
  want.callback = &SdlSoundBuffer::Feed;
  want.userdata = this;
  SDL_AudioSpec have{};

  std::scoped_lock hold(sdlMutex);
  if (!EnsureAudio()) return DSERR_NODRIVER;
  const char* name = deviceName_ ? deviceName_->c_str() : nullptr;
  device_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
  if (device_ == 0 && mayFallBack && openDevices == 0 && !onDummyDriver && !DriverChosenByUser() &&
      SwitchToDummyDriver()) {
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  }
  if (device_ == 0) return DSERR_NODRIVER;
  ++openDevices;
  // SDL's disk driver starts its file anew on every open: closing it while stopped
  // would lose what was captured before a pause.
  const char* driver = SDL_GetCurrentAudioDriver();
  keepOpenWhenStopped_ = driver != nullptr && std::string_view(driver) == "disk";
  return DS_OK;
}

class SdlSoundDevice final : public SoundDevice {
 public:
  explicit SdlSoundDevice(std::optional<std::string> name) : name_(std::move(name)) {}

  HRESULT CreateSoundBuffer(const BufferDescription& description,
                            std::unique_ptr<SoundBuffer>* buffer) override {
    const WaveFormat* format = description.lpwfxFormat;
    if (buffer == nullptr || format == nullptr || description.dwBufferBytes == 0)
      return DSERR_INVALIDPARAM;
    if (SdlFormat(*format) == 0 || format->nChannels == 0 || format->nChannels > 8 ||
        format->nSamplesPerSec == 0 || format->nBlockAlign == 0 ||
        description.dwBufferBytes % format->nBlockAlign != 0) {
      return DSERR_BADFORMAT;
    }
    auto made = std::make_unique<SdlSoundBuffer>(name_, *format, description.dwBufferBytes);
    const HRESULT hr = made->OpenDevice(true);
    if (hr != DS_OK) return hr;
    *buffer = std::move(made);
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(const void*, std::uint32_t) override { return DS_OK; }

 private:
  const std::optional<std::string> name_;
};

class SdlSystem final : public SoundSystem {
 public:
  HRESULT EnumeratePlayback(const EnumerateCallback& callback) override {
    return Report(true, callback);
  }
  HRESULT EnumerateCapture(const EnumerateCallback& callback) override {
    return Report(false, callback);
  }

  HRESULT CreateDevice(const Guid* guid, std::unique_ptr<SoundDevice>* device) override {
    if (device == nullptr) return DSERR_INVALIDPARAM;
    {
      std::scoped_lock hold(sdlMutex);
      if (!EnsureAudio()) return DSERR_NODRIVER;
    }
    if (guid == nullptr || guid->IsNull()) {
      *device = std::make_unique<SdlSoundDevice>(std::nullopt);
      return DS_OK;
    }
    const std::vector<std::string> names = DeviceNames(true);
    const std::vector<Guid> guids = Identities(true, names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (guids[i] == *guid) {
        *device = std::make_unique<SdlSoundDevice>(names[i]);
        return DS_OK;
      }
    }
    return DSERR_NODRIVER;
  }
};

}  // namespace

void PreferSdlDriver(const char* driver) {
  std::scoped_lock hold(sdlMutex);
  if (!DriverChosenByUser() && SDL_WasInit(SDL_INIT_AUDIO) == 0)
    SDL_SetHint(SDL_HINT_AUDIODRIVER, driver);
}

SoundSystem& SdlSoundSystem() {
  static SdlSystem system;
  return system;
}

}  // namespace platform::sound
