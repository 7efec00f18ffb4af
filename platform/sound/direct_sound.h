// A small DirectSound-like device layer: enumeration, device objects and looping
// sound buffers with play/write cursors. The SDL implementation plays through SDL2;
// the manual-clock one lets tests move the cursors themselves.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/kernel/hresult.h"

namespace platform::sound {

// A 16-byte device identity; all zero stands for the default (primary) device.
struct Guid {
  std::array<std::uint8_t, 16> bytes{};
  bool IsNull() const;
  friend bool operator==(const Guid&, const Guid&) = default;
};

// The result codes and flags callers compare against, with their usual values.
inline constexpr HRESULT DS_OK = 0;
inline constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);
inline constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
inline constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);
inline constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
inline constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
inline constexpr HRESULT DSERR_GENERIC = E_FAIL;

inline constexpr std::uint32_t DSBSTATUS_PLAYING = 0x1;
inline constexpr std::uint32_t DSBSTATUS_BUFFERLOST = 0x2;
inline constexpr std::uint32_t DSBSTATUS_LOOPING = 0x4;
inline constexpr std::uint32_t DSBLOCK_ENTIREBUFFER = 0x2;
inline constexpr std::uint32_t DSBPLAY_LOOPING = 0x1;
inline constexpr std::uint32_t DSSCL_NORMAL = 1;
inline constexpr std::uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;
inline constexpr std::uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x10000;

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00aa00389b71, in memory order.
inline constexpr Guid KSDATAFORMAT_SUBTYPE_PCM{{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// WAVEFORMATEX, with the WAVEFORMATEXTENSIBLE tail (meaningful when cbSize is 22).
struct WaveFormat {
  std::uint16_t wFormatTag = WAVE_FORMAT_PCM;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  std::uint16_t cbSize = 0;
  std::uint16_t wValidBitsPerSample = 0;
  std::uint32_t dwChannelMask = 0;
  Guid SubFormat{};
};

struct BufferDescription {  // DSBUFFERDESC
  std::uint32_t dwSize = 36;
  std::uint32_t dwFlags = 0;
  std::uint32_t dwBufferBytes = 0;
  std::uint32_t dwReserved = 0;
  const WaveFormat* lpwfxFormat = nullptr;
  Guid guid3DAlgorithm{};
};

// A looping buffer (IDirectSoundBuffer). Release is destruction.
class SoundBuffer {
 public:
  virtual ~SoundBuffer() = default;
  virtual HRESULT GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) = 0;
  virtual HRESULT GetStatus(std::uint32_t* status) = 0;
  // One or two regions: the second one, at offset 0, when the span crosses the end.
  // The device does not read the buffer between Lock and Unlock; one lock at a time.
  virtual HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1,
                       std::uint32_t* size1, void** region2, std::uint32_t* size2,
                       std::uint32_t flags) = 0;
  virtual HRESULT Unlock(void* region1, std::uint32_t size1, void* region2,
                         std::uint32_t size2) = 0;
  // Plays from the current position, wrapping at the end (always looping here). What
  // the device has played is left silent, so a lap without new data is heard as silence.
  virtual HRESULT Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) = 0;
  // Stops; the contents stay and Play continues where the device stopped taking data.
  virtual HRESULT Stop() = 0;
  // After a loss: reacquires the device. DS_OK: the contents must then be written
  // again; S_FALSE: they were kept, and the buffer plays on if it was playing.
  virtual HRESULT Restore() = 0;
  // Drops everything queued, here and in the device: the buffer turns silent and the
  // play cursor meets the write cursor, so what is written next is heard next. Call
  // it stopped; any wait on the device is bounded.
  virtual HRESULT Flush() = 0;
};

// A device object (IDirectSound). Release is destruction; buffers may outlive it.
class SoundDevice {
 public:
  virtual ~SoundDevice() = default;
  virtual HRESULT CreateSoundBuffer(const BufferDescription& description,
                                    std::unique_ptr<SoundBuffer>* buffer) = 0;
  // Accepted and ignored: every buffer here plays whatever window has the focus.
  virtual HRESULT SetCooperativeLevel(const void* window, std::uint32_t level) = 0;
};

// Called once per device, default first with a null GUID; returning false stops.
using EnumerateCallback =
    std::function<bool(const Guid* guid, const char16_t* description, const char16_t* module)>;

// The system's entry points (DirectSoundEnumerate, DirectSoundCaptureEnumerate, DirectSoundCreate).
class SoundSystem {
 public:
  virtual ~SoundSystem() = default;
  virtual HRESULT EnumeratePlayback(const EnumerateCallback& callback) = 0;
  virtual HRESULT EnumerateCapture(const EnumerateCallback& callback) = 0;
  // guid null or all zero = the default device.
  virtual HRESULT CreateDevice(const Guid* guid, std::unique_ptr<SoundDevice>* device) = 0;
};

// The process's SDL-backed system.
SoundSystem& SdlSoundSystem();
// Has SDL open its devices through this driver, unless the user chose one
// (SDL_AUDIODRIVER). Only before SDL's first use.
void PreferSdlDriver(const char* driver);

// The process's system over the desktop's sound server (one default device).
SoundSystem& PulseSoundSystem();
// True when a sound server accepts a connection within `bound`; none is started.
bool PulseServerAnswers(std::chrono::milliseconds bound);

// What the program plays through, chosen at its first use: the sound server when
// one answers, else SDL on ALSA (said once on stderr); SDL whenever the user names
// an SDL driver.
SoundSystem& DesktopSoundSystem();

// Lock arithmetic shared by the implementations: splits (offset, bytes) of a looping
// buffer of `size` bytes at `base` into one or two regions.
HRESULT LockRegions(std::uint8_t* base, std::uint32_t size, std::uint32_t offset,
                    std::uint32_t bytes, std::uint32_t flags, void** region1, std::uint32_t* size1,
                    void** region2, std::uint32_t* size2);

// A stable identity for a named device: the same name and occurrence give the same GUID.
Guid DeviceGuid(bool isPlayback, const char* name, int occurrence);

}  // namespace platform::sound
