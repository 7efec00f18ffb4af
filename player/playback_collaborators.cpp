#include "player/playback_collaborators.h"

#include <mutex>

namespace {

class NoOutputDevices final : public OutputDevices {
 public:
  std::uint32_t EnumerateOutputDevices() override { return 0; }
  std::uint32_t DeviceRowCount() override { return 0; }
  std::unique_ptr<AudioOutput> CreateAudioOutput(float, std::uint32_t, std::uint32_t) override {
    return nullptr;
  }
};

class BlankDisplay final : public SpectrumDisplay {
 public:
  void Attach(AudioOutput*) override {}
  void Detach() override {}
  AudioDataConsumer* Consumer() override { return nullptr; }
  bool ConsumerActive() const override { return false; }
  void PauseDspThread() override {}
  void ResumeDspThread() override {}
};

class BlankDisplayFactory final : public DisplayFactory {
 public:
  std::unique_ptr<SpectrumDisplay> CreateSpectrumAnalyzer(platform::ui::HWND) override {
    return std::make_unique<BlankDisplay>();
  }
};

NoOutputDevices noOutputDevices;
BlankDisplayFactory blankDisplays;

std::mutex defaultsMutex;
PlaybackCollaborators defaults{&noOutputDevices, &blankDisplays};  // guarded by defaultsMutex

}  // namespace

DisplayFactory& BlankDisplays() { return blankDisplays; }

PlaybackCollaborators DefaultCollaborators() {
  std::scoped_lock hold(defaultsMutex);
  return defaults;
}

void SetDefaultCollaborators(PlaybackCollaborators collaborators) {
  std::scoped_lock hold(defaultsMutex);
  defaults.outputs = collaborators.outputs != nullptr ? collaborators.outputs : &noOutputDevices;
  defaults.displays = collaborators.displays != nullptr ? collaborators.displays : &blankDisplays;
}
