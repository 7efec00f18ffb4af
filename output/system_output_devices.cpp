#include "output/system_output_devices.h"

// Placeholder until the sound output lands: no device.
namespace {
class NoDevices final : public OutputDevices {
 public:
  std::uint32_t EnumerateOutputDevices() override { return 0; }
  std::uint32_t DeviceRowCount() override { return 0; }
  std::unique_ptr<AudioOutput> CreateAudioOutput(float, std::uint32_t, std::uint32_t) override { return nullptr; }
};
}  // namespace

OutputDevices& SystemOutputDevices() {
  static NoDevices devices;
  return devices;
}
