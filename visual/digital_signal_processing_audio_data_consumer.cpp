#include "visual/digital_signal_processing_audio_data_consumer.h"

#include <algorithm>
#include <system_error>

DigitalSignalProcessingAudioDataConsumer::DigitalSignalProcessingAudioDataConsumer(
    int ticksPerSecond, DspClock& dspClock)
    : processors(std::make_unique<std::list<DigitalSignalProcessor*>>()),
      pacer(ticksPerSecond),
      clock(dspClock) {}

DigitalSignalProcessingAudioDataConsumer::~DigitalSignalProcessingAudioDataConsumer() {
  // Freeing the ring or the list under a running thread would pull them from under it.
  StopProcessing();
  std::unique_lock hold(lock);
  while (listBusy.load() != 0) {
    hold.unlock();
    clock.SleepMs(20);
    hold.lock();
  }
  processors.reset();
}

void DigitalSignalProcessingAudioDataConsumer::Consume(const std::uint8_t* data,
                                                       std::uint32_t offset, std::uint32_t length) {
  if (sampleRing == nullptr || data == nullptr) return;
  sampleRing->Write(data + offset, length);
}

void DigitalSignalProcessingAudioDataConsumer::Consume(const std::uint8_t* data,
                                                       std::uint32_t length) {
  Consume(data, 0, length);
}

bool DigitalSignalProcessingAudioDataConsumer::AddProcessor(DigitalSignalProcessor* processor) {
  if (processor == nullptr) return false;
  std::scoped_lock hold(lock);
  try {
    processors->push_back(processor);
  } catch (const std::exception&) {  // the list cannot grow
    return false;
  }
  return true;
}

void DigitalSignalProcessingAudioDataConsumer::RemoveProcessor(DigitalSignalProcessor* processor) {
  {
    std::scoped_lock hold(lock);
    listBusy = 1;
    processors->remove(processor);
  }
  listBusy = 0;
}

void DigitalSignalProcessingAudioDataConsumer::StartProcessing(AudioOutput* followed) {
  if (control != nullptr) {
    StopProcessing();
    if (control != nullptr) return;
  }
  output = followed;
  const std::uint32_t queueTarget = output != nullptr ? output->QueueTarget() : 0;
  const std::uint64_t ringBytes = std::uint64_t{2} * queueTarget;
  sampleRing = std::make_unique<PcmRing>(
      static_cast<std::uint32_t>(std::min<std::uint64_t>(ringBytes, UINT32_MAX)));
  left = std::make_unique<float[]>(windowFrames);  // silent until the first window arrives
  right = std::make_unique<float[]>(windowFrames);
  ringWraps = 0;
  convertedFrames = 0;
  for (const DigitalSignalProcessor* processor : *processors)
    convertedFrames = std::max(convertedFrames, std::min(processor->FramesRead(), windowFrames));
  pacer.Reset();
  pauseEvent.Reset();
  stopEvent.Reset();

  auto block = std::make_unique<DspThreadControl>();
  block->consumer = this;
  block->running = 1;
  block->paused = 0;
  block->framesPlayed = 0;
  const std::uint32_t frameBytes = output != nullptr ? output->BytesPerFrame() : 4;
  block->bytesPerFrame = frameBytes == 2 ? 2 : 4;
  try {
    block->thread = std::thread(&DigitalSignalProcessingAudioDataConsumer::Run, this, block.get());
  } catch (const std::system_error&) {
    return;  // no thread: the display stays still, playback goes on
  }
  block->threadId = block->thread.get_id();
  control = std::move(block);
}

void DigitalSignalProcessingAudioDataConsumer::StopProcessing() {
  if (control == nullptr) return;
  if (control->threadId == std::this_thread::get_id()) {
    control->running = 0;  // asked from a processor: the thread ends after this tick
    return;
  }
  if (control->paused != 0) {
    control->paused = 0;
    pauseEvent.Set();
  }
  control->running = 0;
  // Joining, not only waiting for the stop event: the thread may have ended by an
  // exception, and nothing may be freed while it still runs.
  if (control->thread.joinable()) control->thread.join();
  stopEvent.Reset();
  control.reset();
  sampleRing.reset();
  left.reset();
  right.reset();
}

void DigitalSignalProcessingAudioDataConsumer::PauseThread() {
  if (control != nullptr && control->running != 0) control->paused = 1;
}

void DigitalSignalProcessingAudioDataConsumer::ResumeThread() {
  if (control != nullptr && control->paused != 0) {
    control->paused = 0;
    pauseEvent.Set();
  }
}

void DigitalSignalProcessingAudioDataConsumer::ConvertWindow(DspThreadControl& c) {
  std::int64_t played = output != nullptr ? output->GetPlayedBytes() : 0;
  if (played < 0) played = 0;
  // The window starts where playback was at the previous tick.
  const std::uint32_t frameBytes = c.bytesPerFrame;
  const std::int64_t streamPos = c.framesPlayed * frameBytes;
  c.framesPlayed = played / frameBytes;
  const std::uint32_t ringBytes = sampleRing->Bytes();
  if (streamPos <= 0 || ringBytes == 0) {
    // Nothing heard yet. The arrays are filled anew every tick all the same: the
    // processors may have written into them, and must never get that back as samples.
    std::fill_n(left.get(), convertedFrames, 0.0f);
    std::fill_n(right.get(), convertedFrames, 0.0f);
    return;
  }
  // Stream byte k lies at k mod ringBytes, whatever the earlier windows did.
  ringWraps = static_cast<std::uint64_t>(streamPos) / ringBytes;
  const auto start = static_cast<std::uint32_t>(static_cast<std::uint64_t>(streamPos) % ringBytes);
  sampleRing->Convert(start, convertedFrames, frameBytes, left.get(), right.get(), ringWraps);
}

void DigitalSignalProcessingAudioDataConsumer::Run(DspThreadControl* c) {
  try {
    while (c->running != 0) {
      // A resume that came before the pause was seen leaves the event set; passing it
      // resets it, and a pause still asked for is then waited out properly.
      while (c->paused != 0 && c->running != 0) {
        pauseEvent.Wait();
        pauseEvent.Reset();
      }
      if (c->running == 0) break;

      const std::int64_t t0 = clock.NowNanoseconds();
      ConvertWindow(*c);
      const float timeScale = pacer.TimeScale();
      for (DigitalSignalProcessor* processor : *processors)
        processor->Process(left.get(), right.get(), timeScale);
      const std::int64_t t1 = clock.NowNanoseconds();
      clock.SleepMs(pacer.AfterWork(t1 - t0, !processors->empty()));
    }
  } catch (...) {
    // A processor that throws ends the display for this playback; StopProcessing joins.
  }
  stopEvent.Set();
}
