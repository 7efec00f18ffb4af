#include "output/system_output_devices.h"

#include <memory>

#include "output/audio_device_table.h"
#include "output/buffer_starter.h"
#include "output/table_output_devices.h"
#include "platform/kernel/clock.h"
#include "platform/sound/direct_sound.h"

namespace {

struct SystemOutputs {
  AudioDeviceTable table{platform::sound::DesktopSoundSystem(), platform::TickCountMs};
  TableOutputDevices devices{table, ProcessBufferStarter()};
};

// Never destroyed: an output still playing at process exit refers to the table.
union SystemOutputsHolder {
  SystemOutputsHolder() { std::construct_at(&outputs); }
  ~SystemOutputsHolder() {}
  SystemOutputs outputs;
};

}  // namespace

OutputDevices& SystemOutputDevices() {
  static SystemOutputsHolder holder;
  return holder.outputs.devices;
}
