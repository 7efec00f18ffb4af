#include "output/audio_device_table.h"

namespace sound = platform::sound;

AudioDeviceTable::AudioDeviceTable(sound::SoundSystem& system,
                                   std::function<std::uint32_t()> clockMs)
    : system_(system), clockMs_(std::move(clockMs)) {}

std::uint32_t AudioDeviceTable::RowCount() const {
  std::scoped_lock hold(mutex_);
  return rowCount_;
}

AudioDeviceEntry AudioDeviceTable::RowInfo(std::uint32_t slot) const {
  std::scoped_lock hold(mutex_);
  AudioDeviceEntry copy;
  if (slot >= rowCount_) return copy;
  copy.index = rows_[slot].index;
  copy.isPlayback = rows_[slot].isPlayback;
  copy.references = rows_[slot].references;
  copy.guid = rows_[slot].guid;
  return copy;
}

std::int32_t AudioDeviceTable::FindRow(const sound::Guid* guid, std::uint32_t isPlayback) const {
  const sound::Guid wanted = guid != nullptr ? *guid : sound::Guid{};
  for (std::uint32_t slot = 0; slot < rowCount_; ++slot) {
    if (rows_[slot].isPlayback == isPlayback && rows_[slot].guid == wanted)
      return static_cast<std::int32_t>(slot);
  }
  return -1;
}

void AudioDeviceTable::Record(const sound::Guid* guid, Counter& context) {
  const std::int32_t slot = FindRow(guid, context.isPlayback);
  if (slot >= 0) {
    rows_[slot].index = context.counter++;
    return;
  }
  if (rowCount_ >= kMaxRows) return;  // table full: the device is skipped
  AudioDeviceEntry& row = rows_[rowCount_++];
  row.index = context.counter++;
  row.isPlayback = context.isPlayback;
  row.device.reset();
  row.references = 0;
  row.guid = guid != nullptr ? *guid : sound::Guid{};
}

std::uint32_t AudioDeviceTable::EnumerateOutputDevices() {
  std::scoped_lock hold(mutex_);
  // Elapsed time, so that the tick wrapping around does not freeze the cache.
  if (enumerated_ && clockMs_() - lastEnumerationTime_ <= kCacheMs) return cachedCount_;

  for (std::uint32_t slot = 0; slot < rowCount_; ++slot) rows_[slot].index = -1;

  Counter context{0, 1};
  system_.EnumeratePlayback([&](const sound::Guid* guid, const char16_t*, const char16_t*) {
    Record(guid, context);
    return true;
  });
  std::int32_t n = context.counter;
  if (n == 1 && FindRow(nullptr, 1) == 0) {
    // Only the primary device was reported: it is not counted as a device of its own.
    n = 0;
    context.counter = 0;
    rows_[0].index = -1;
  }

  context.isPlayback = 0;
  system_.EnumerateCapture([&](const sound::Guid* guid, const char16_t*, const char16_t*) {
    Record(guid, context);
    return true;
  });
  std::int32_t m = context.counter;
  const std::int32_t primaryCapture = FindRow(nullptr, 0);
  if (m - n == 1 && primaryCapture >= 0) {
    m = n;
    rows_[primaryCapture].index = -1;
  }

  cachedCount_ = static_cast<std::uint32_t>(m);
  lastEnumerationTime_ = clockMs_();
  enumerated_ = true;
  return cachedCount_;
}

sound::SoundDevice* AudioDeviceTable::AcquireAudioDevice(const void* window) {
  std::scoped_lock hold(mutex_);
  if (rowCount_ == 0) return nullptr;
  AudioDeviceEntry& row = rows_[0];
  if (!row.device) {
    if (row.isPlayback == 0) return nullptr;  // capture devices are not opened by this program
    const sound::Guid* guid = row.guid.IsNull() ? nullptr : &row.guid;
    std::unique_ptr<sound::SoundDevice> made;
    if (system_.CreateDevice(guid, &made) != sound::DS_OK || !made) return nullptr;
    row.device = std::move(made);
    row.references = 0;
    if (row.device->SetCooperativeLevel(window, sound::DSSCL_NORMAL) != sound::DS_OK)
      return nullptr;
  }
  ++row.references;
  return row.device.get();
}

void AudioDeviceTable::ReleaseAudioDevice(std::uint32_t slot) {
  std::scoped_lock hold(mutex_);
  if (slot >= rowCount_) return;
  AudioDeviceEntry& row = rows_[slot];
  if (row.references > 0) --row.references;
  if (row.references == 0) row.device.reset();
}
