#include "output/streaming_audio_output.h"

#include <algorithm>
#include <cstring>

#include "output/wave_format.h"
#include "platform/ui/message_box.h"

namespace sound = platform::sound;
using platform::HRESULT;

namespace {
// Half a second at 44.1 kHz stereo. The engine offers what did not fit again every
// 125 ms, and a sound server may take a fifth of a second or more from the queue at
// once: at byte rates where 88200 bytes last less than half a second, the queue
// holds half a second, so that what is left lasts until the next offer.
constexpr std::uint32_t kQueueBytes = 88200;
constexpr std::uint64_t kQueueFloorMs = 4 * 125;
}  // namespace

StreamingAudioOutput::StreamingAudioOutput(Key, AudioDeviceTable& table, BufferStarter& starter,
                                           std::uint32_t bytesPerFrameArg)
    : bytesPerFrame(bytesPerFrameArg), table_(table), starter_(starter) {}

std::unique_ptr<StreamingAudioOutput> StreamingAudioOutput::Create(AudioDeviceTable& table,
                                                                   BufferStarter& starter,
                                                                   float sampleRate,
                                                                   std::uint32_t bytesPerFrame,
                                                                   std::uint32_t channels) {
  if (table.RowCount() == 0 || table.RowInfo(0).isPlayback != 1 || !starter.Running())
    return nullptr;
  if (bytesPerFrame == 0 || channels == 0 || !(sampleRate >= 1.0f) || sampleRate > 1e6f)
    return nullptr;
  auto output = std::make_unique<StreamingAudioOutput>(Key{}, table, starter, bytesPerFrame);
  sound::SoundDevice* device = table.AcquireAudioDevice(platform::ui::GetActiveWindow());
  if (device == nullptr || !output->CreateStreamBuffer(*device, sampleRate, channels)) {
    return nullptr;  // the destructor drops the device reference
  }
  output->FillSilence(Silence::kWhole);
  output->writePos = -1;
  return output;
}

bool StreamingAudioOutput::CreateStreamBuffer(sound::SoundDevice& device, float sampleRate,
                                              std::uint32_t channels) {
  const auto rate = static_cast<std::uint32_t>(sampleRate);
  const std::uint32_t bits = bytesPerFrame / channels * 8;
  const sound::WaveFormat format = BuildWaveFormat(channels, rate, bits);
  bufferBytes = rate * bytesPerFrame * 2;
  const std::uint64_t floor = std::uint64_t{bufferBytes / 2} * kQueueFloorMs / 1000;
  queueTarget = WholeFrames(static_cast<std::uint32_t>(
      std::min<std::uint64_t>(bufferBytes / 2, std::max<std::uint64_t>(kQueueBytes, floor))));

  sound::BufferDescription description;
  description.dwSize = 36;
  description.dwFlags = sound::DSBCAPS_GETCURRENTPOSITION2 | sound::DSBCAPS_GLOBALFOCUS;
  description.dwBufferBytes = bufferBytes;
  description.lpwfxFormat = &format;
  std::unique_ptr<sound::SoundBuffer> buffer;
  if (device.CreateSoundBuffer(description, &buffer) != sound::DS_OK || !buffer) return false;
  playBuffer = std::move(buffer);
  return true;
}

StreamingAudioOutput::~StreamingAudioOutput() {
  playBuffer.reset();
  table_.ReleaseAudioDevice(deviceSlot);
}

std::uint32_t StreamingAudioOutput::Distance(std::uint32_t from, std::uint32_t to) const {
  return to >= from ? to - from : to + bufferBytes - from;
}

void StreamingAudioOutput::FillSilence(Silence part) {
  if (!playBuffer) return;
  const std::uint8_t silence = bitsPerSample == 8 ? 0x80 : 0x00;
  void* region1 = nullptr;
  void* region2 = nullptr;
  std::uint32_t size1 = 0;
  std::uint32_t size2 = 0;
  if (part == Silence::kWhole) {
    if (playBuffer->Lock(0, bufferBytes, &region1, &size1, &region2, &size2,
                         sound::DSBLOCK_ENTIREBUFFER) != sound::DS_OK) {
      return;
    }
    if (region1 != nullptr) std::memset(region1, silence, size1);
    if (region2 != nullptr) std::memset(region2, silence, size2);
    playBuffer->Unlock(region1, size1, region2, size2);
    writePos = -1;
    silenceAhead = bufferBytes;
    return;
  }

  std::uint32_t play = 0;
  std::uint32_t write = 0;
  if (playBuffer->GetCurrentPosition(&play, &write) != sound::DS_OK) return;
  const std::int32_t pos = writePos;
  const std::uint32_t base = pos >= 0 ? static_cast<std::uint32_t>(pos) : write;
  const std::uint32_t start = (base + silenceAhead) % bufferBytes;
  const bool inPlayingRegion =
      write >= play ? (start >= play && start < write) : (start < write || start >= play);
  if (inPlayingRegion) return;
  // The free part runs from the queued data's end to the play cursor. When the known
  // silence already reaches the play cursor, going on would wrap into queued audio.
  std::uint32_t freePart = Distance(base, play);
  if (freePart == 0) freePart = bufferBytes;
  if (silenceAhead >= freePart) return;
  std::uint32_t count = bufferBytes - silenceAhead;
  count = std::min(count, Distance(start, play));
  if (count == 0) return;
  if (playBuffer->Lock(start, count, &region1, &size1, &region2, &size2, 0) != sound::DS_OK) return;
  if (region1 != nullptr) std::memset(region1, silence, size1);
  if (region2 != nullptr) std::memset(region2, silence, size2);
  playBuffer->Unlock(region1, size1, region2, size2);
  silenceAhead = std::min(bufferBytes, silenceAhead + (region1 != nullptr ? size1 : 0) +
                                           (region2 != nullptr ? size2 : 0));
}

std::uint32_t StreamingAudioOutput::GetWritableBytes(std::uint32_t* playOut,
                                                     std::uint32_t* writeOut,
                                                     std::uint32_t* limitOut, bool markUnderrun) {
  if (limitOut != nullptr) *limitOut = 0;
  if (!playBuffer) return 0;
  std::uint32_t play = 0;
  std::uint32_t write = 0;
  if (playBuffer->GetCurrentPosition(&play, &write) != sound::DS_OK) return 0;
  if (Distance(play, write) > bufferBytes / 2) write = play;
  if (playOut != nullptr) *playOut = play;
  if (writeOut != nullptr) *writeOut = write;
  if (limitOut != nullptr) *limitOut = queueTarget;

  const std::int32_t pos = writePos;
  if (pos < 0 || underrun != 0) return WholeFrames(queueTarget);
  const std::uint32_t queued = Distance(write, static_cast<std::uint32_t>(pos));
  if (queued > queueTarget) {
    // The write cursor lies outside the queued stretch: the device has run out of data.
    // After whole laps it may lie inside it again; all it finds there is silence (it
    // leaves what it played silent), so the next block then only comes a little later.
    if (markUnderrun) underrun = 1;
    return WholeFrames(queueTarget);
  }
  return WholeFrames(queueTarget - queued);
}

std::int64_t StreamingAudioOutput::GetPlayedBytes() {
  // Total first: Write moves writePos before the total, so a write in between can
  // only make this lag, never run ahead of what was written.
  const std::int64_t total = totalBytesWritten.load(std::memory_order_acquire);
  std::uint32_t play = 0;
  std::uint32_t write = 0;
  std::uint32_t limit = 0;
  GetWritableBytes(&play, &write, &limit, false);
  const std::int32_t pos = writePos;
  if (limit == 0 || pos < 0) return total;
  // Played is what is heard: the queue ahead of the write cursor and what the device
  // has taken but not yet played (a sound server holds a lot) are both still to come.
  const std::uint32_t inFlight = Distance(play, write);
  const std::uint32_t queued = Distance(write, static_cast<std::uint32_t>(pos));
  std::uint32_t unheard = inFlight + queued;
  if (queued > queueTarget) {
    // The device has taken everything written; part of it may still be in flight.
    const std::uint32_t behind = Distance(play, static_cast<std::uint32_t>(pos));
    unheard = behind <= inFlight ? behind : 0;
  }
  return total - static_cast<std::int64_t>(unheard);
}

bool StreamingAudioOutput::BufferLost() {
  std::uint32_t status = 0;
  return playBuffer->GetStatus(&status) == sound::DS_OK &&
         (status & sound::DSBSTATUS_BUFFERLOST) != 0;
}

bool StreamingAudioOutput::RestoreLostBuffer() {
  const HRESULT restored = playBuffer->Restore();
  NoteRestore(restored);
  if (restored != sound::DS_OK) return false;
  FillSilence(Silence::kWhole);
  return true;
}

void StreamingAudioOutput::NoteRestore(HRESULT restored) {
  if (restored >= 0) {
    restoreFailures_ = 0;
    return;
  }
  const std::uint32_t now = table_.NowMs();
  if (restoreFailures_++ == 0) firstRestoreFailureMs_ = now;
  // A sound server being restarted is gone for a few seconds: only a longer run of
  // failures means it is gone for good.
  if (restoreFailures_ >= kRestoreAttempts && now - firstRestoreFailureMs_ >= kRestoreWindowMs)
    deviceFailed_ = true;
}

std::uint32_t StreamingAudioOutput::Write(const std::uint8_t* data, std::uint32_t byteCount) {
  if (data == nullptr || byteCount == 0 || !playBuffer || deviceFailed_) return 0;
  bool kick = false;
  std::uint32_t result = 0;
  // A second turn only after a restored buffer: the bytes go into it, not away.
  for (int turn = 0; turn < 2; ++turn) {
    std::uint32_t play = 0;
    std::uint32_t write = 0;
    std::uint32_t n = std::min(byteCount, GetWritableBytes(&play, &write, nullptr, true));
    if (n == 0) {
      // No room now: a device lost meanwhile must be noticed all the same.
      if (!BufferLost() || !RestoreLostBuffer()) break;
      continue;
    }
    std::int32_t pos = writePos;
    if (pos < 0 || underrun != 0) {
      std::uint32_t start = write;
      if (pos >= 0) {
        // The device plays on through silence and may take its next read from the
        // write cursor at any moment: start one read further, so that the blocks
        // after this one are in before the device reaches its end.
        const std::uint32_t lead = WholeFrames(Distance(play, write));
        if (lead <= queueTarget / 4) {
          start = (write + lead) % bufferBytes;
          n = std::min(n, queueTarget - lead);
        }
        // The silence the device went through lies behind the new start.
        const std::uint32_t skipped = Distance(static_cast<std::uint32_t>(pos), start);
        silenceAhead = silenceAhead > skipped ? silenceAhead - skipped : 0;
      }
      pos = static_cast<std::int32_t>(start);
      kick = true;
      underrun = 0;
    }
    void* region1 = nullptr;
    void* region2 = nullptr;
    std::uint32_t size1 = 0;
    std::uint32_t size2 = 0;
    const HRESULT locked =
        playBuffer->Lock(static_cast<std::uint32_t>(pos), n, &region1, &size1, &region2, &size2, 0);
    if (locked == sound::DSERR_BUFFERLOST) {
      if (!RestoreLostBuffer()) break;
      continue;
    }
    if (locked != sound::DS_OK) break;
    if (region1 == nullptr) size1 = 0;
    if (region2 == nullptr) size2 = 0;
    std::memcpy(region1, data, size1);
    if (size2 > 0) std::memcpy(region2, data + size1, size2);
    const std::uint32_t written = size1 + size2;
    writePos = static_cast<std::int32_t>((static_cast<std::uint32_t>(pos) + written) % bufferBytes);
    totalBytesWritten.fetch_add(written, std::memory_order_release);
    playBuffer->Unlock(region1, size1, region2, size2);
    framesWritten += written / bytesPerFrame;
    silenceAhead = silenceAhead > written ? silenceAhead - written : 0;
    result = written;
    break;
  }
  if (started != 0 && kick && writePos >= 0) starter_.RequestBufferStart(playBuffer.get());
  // Keep silence behind the queued data, so that a late block leaves a gap rather
  // than the device replaying audio from two seconds ago.
  if (result > 0) FillSilence(Silence::kFreePart);
  return result;
}

int StreamingAudioOutput::Start() {
  if (!playBuffer) return 0;
  std::uint32_t status = 0;
  const HRESULT got = playBuffer->GetStatus(&status);
  if (got < 0) return 0;
  if (got != sound::DS_OK) {
    started = 1;
    return 1;
  }
  if ((status & sound::DSBSTATUS_LOOPING) != 0) return 1;
  if (writePos < 0) {
    started = 1;
    return 1;
  }
  const HRESULT hr = starter_.RequestBufferStart(playBuffer.get());
  if (hr == sound::DSERR_BUFFERLOST) {
    const HRESULT restored = playBuffer->Restore();
    NoteRestore(restored);
    if (restored < 0) return 0;
    if (restored == sound::DS_OK) FillSilence(Silence::kWhole);
    started = 1;
    return 1;
  }
  FillSilence(Silence::kFreePart);
  if (hr < 0) return 0;
  started = 1;
  return 1;
}

void StreamingAudioOutput::Stop() {
  started = 0;
  if (playBuffer) playBuffer->Stop();
}

void StreamingAudioOutput::Flush() {
  if (!playBuffer) return;
  // A lost buffer has nothing queued worth keeping; the next Write restores it.
  playBuffer->Flush();
  FillSilence(Silence::kWhole);
  underrun = 0;
}
