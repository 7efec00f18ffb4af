// One playback's streaming output: a looping two-second buffer kept filled at most
// queueTarget bytes ahead of the device's write cursor.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "output/audio_device_table.h"
#include "output/buffer_starter.h"
#include "platform/sound/direct_sound.h"
#include "player/playback_collaborators.h"

class StreamingAudioOutput final : public AudioOutput {
 public:
  enum class Silence { kWhole, kFreePart };
  // The device counts as gone for good after at least this many failed Restores in
  // a row, over at least this long (by the device table's clock).
  static constexpr int kRestoreAttempts = 8;
  static constexpr std::uint32_t kRestoreWindowMs = 10000;

  // CreateAudioOutput: null when the table's slot 0 is no playback row, there is
  // no starter worker, or the device or buffer cannot be had.
  static std::unique_ptr<StreamingAudioOutput> Create(AudioDeviceTable& table,
                                                      BufferStarter& starter, float sampleRate,
                                                      std::uint32_t bytesPerFrame,
                                                      std::uint32_t channels);
  struct Key {  // only Create makes outputs
   private:
    Key() = default;
    friend class StreamingAudioOutput;
  };
  StreamingAudioOutput(Key, AudioDeviceTable& table, BufferStarter& starter,
                       std::uint32_t bytesPerFrame);
  // DestroyAudioOutput.
  ~StreamingAudioOutput() override;

  int Start() override;
  std::uint32_t Write(const std::uint8_t* data, std::uint32_t byteCount) override;
  void Stop() override;
  void Flush() override;
  std::int64_t GetPlayedBytes() override;
  bool DeviceFailed() const override { return deviceFailed_.load(); }
  std::uint32_t QueueTarget() const override { return queueTarget; }
  std::uint32_t BytesPerFrame() const override { return bytesPerFrame; }

  // Bytes that may be written now; play, write and limit report what it saw. Only
  // the playback thread (markUnderrun) records an underrun it notices.
  std::uint32_t GetWritableBytes(std::uint32_t* play, std::uint32_t* write, std::uint32_t* limit,
                                 bool markUnderrun);
  void FillSilence(Silence part);

  // Fields, in the output's own order. Immutable after creation unless noted.
  const std::uint32_t deviceSlot = 0;
  const std::uint32_t isPlayback = 1;
  std::unique_ptr<platform::sound::SoundBuffer> playBuffer;
  std::uint32_t bufferBytes = 0;
  std::uint32_t queueTarget = 0;
  std::uint32_t bitsPerSample = 16;
  std::uint32_t bytesPerFrame = 0;
  std::uint64_t framesWritten = 0;         // playback thread only
  std::atomic<std::int32_t> writePos{-1};  // written by the playback thread, read by the DSP thread
  std::atomic<std::uint32_t> started{0};   // playback thread only
  std::atomic<std::uint32_t> silenceAhead{
      0};                                  // written by the playback thread, read by the DSP thread
  std::atomic<std::uint32_t> underrun{0};  // written by the playback thread, read by the DSP thread
  std::atomic<std::int64_t> totalBytesWritten{
      0};  // written by the playback thread, read by the DSP thread

 private:
  bool CreateStreamBuffer(platform::sound::SoundDevice& device, float sampleRate,
                          std::uint32_t channels);
  std::uint32_t Distance(std::uint32_t from, std::uint32_t to) const;
  std::uint32_t WholeFrames(std::uint32_t bytes) const { return bytes - bytes % bytesPerFrame; }
  bool BufferLost();
  // Restores a lost buffer and silences it whole; false when the restore failed.
  bool RestoreLostBuffer();
  void NoteRestore(platform::HRESULT restored);

  AudioDeviceTable& table_;
  BufferStarter& starter_;
  int restoreFailures_ = 0;                  // playback thread only
  std::uint32_t firstRestoreFailureMs_ = 0;  // playback thread only
  std::atomic<bool> deviceFailed_{false};    // set by the playback thread
};
