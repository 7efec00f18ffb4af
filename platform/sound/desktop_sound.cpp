#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/sound/direct_sound.h"

namespace platform::sound {
namespace {

constexpr std::chrono::milliseconds kProbeBound{2000};

bool SdlDriverNamed() {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  return driver != nullptr && driver[0] != '\0';
}

SoundSystem& Choose() {
  if (SdlDriverNamed()) return SdlSoundSystem();
  if (PulseServerAnswers(kProbeBound)) return PulseSoundSystem();
  // SDL would try the server itself first, and may hang on one that does not answer.
  std::fputs("tonaria: no sound server; playing through ALSA\n", stderr);
  PreferSdlDriver("alsa");
  return SdlSoundSystem();
}

// Decides at the first call, so that a program that plays nothing never asks.
class DesktopSystem final : public SoundSystem {
 public:
  HRESULT EnumeratePlayback(const EnumerateCallback& callback) override {
    return Chosen().EnumeratePlayback(callback);
  }
  HRESULT EnumerateCapture(const EnumerateCallback& callback) override {
    return Chosen().EnumerateCapture(callback);
  }
  HRESULT CreateDevice(const Guid* guid, std::unique_ptr<SoundDevice>* device) override {
    return Chosen().CreateDevice(guid, device);
  }

 private:
  SoundSystem& Chosen() {
    std::call_once(once_, [this] { chosen_ = &Choose(); });
    return *chosen_;
  }
  std::once_flag once_;
  SoundSystem* chosen_ = nullptr;  // written once under once_
};

}  // namespace

SoundSystem& DesktopSoundSystem() {
  static DesktopSystem system;
  return system;
}

}  // namespace platform::sound
