// Keeps the PCM that went to the output in a ring and runs the DSP thread: about
// ticksPerSecond times a second it asks the output how far playback has come, converts
// the windowFrames frames being heard into two float arrays and hands them to every
// registered processor.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "platform/kernel/event.h"
#include "player/playback_collaborators.h"
#include "visual/audio_data_consumer.h"
#include "visual/digital_signal_processor.h"
#include "visual/dsp_clock.h"
#include "visual/dsp_thread_control.h"
#include "visual/frame_pacer.h"
#include "visual/pcm_ring.h"

class DigitalSignalProcessingAudioDataConsumer final : public AudioDataConsumer {
 public:
  static constexpr std::uint32_t kWindowFrames = 2048;

  // clock paces the DSP thread; it must outlive the consumer.
  explicit DigitalSignalProcessingAudioDataConsumer(int ticksPerSecond,
                                                    DspClock& clock = PerformanceCounterClock());
  // Stops a thread still running, then frees everything.
  ~DigitalSignalProcessingAudioDataConsumer();
  DigitalSignalProcessingAudioDataConsumer(const DigitalSignalProcessingAudioDataConsumer&) =
      delete;
  DigitalSignalProcessingAudioDataConsumer& operator=(
      const DigitalSignalProcessingAudioDataConsumer&) = delete;

  // Playback thread: appends to the ring; nothing happens without a ring.
  void Consume(const std::uint8_t* data, std::uint32_t offset, std::uint32_t length) override;
  void Consume(const std::uint8_t* data, std::uint32_t length) override;

  // The owner's list edits, made only while no thread runs. False if it could not be added.
  bool AddProcessor(DigitalSignalProcessor* processor);
  void RemoveProcessor(DigitalSignalProcessor* processor);  // every element equal to it

  // Follows output (not owned; may be null) with a fresh ring and starts the DSP thread.
  void StartProcessing(AudioOutput* output);
  // Ends the DSP thread (joined, also after it ended by an exception), then frees the
  // ring and the sample arrays. Does nothing when no thread was started.
  void StopProcessing();

  // The engine's pause and resume of the DSP thread (playback thread).
  void PauseThread();
  void ResumeThread();

  bool HasThread() const { return control != nullptr; }
  const DspThreadControl* Control() const { return control.get(); }

 private:
  void Run(DspThreadControl* threadControl);
  void ConvertWindow(DspThreadControl& threadControl);

  // Owner's threads only unless said otherwise.
  std::mutex lock;  // with listBusy, guards list edits
  std::unique_ptr<std::list<DigitalSignalProcessor*>>
      processors;                 // walked by the DSP thread while it runs
  AudioOutput* output = nullptr;  // fixed while the thread runs
  const std::uint32_t windowFrames = kWindowFrames;
  std::uint32_t convertedFrames = kWindowFrames;  // the most any processor reads; fixed per run
  FramePacer pacer;                               // DSP thread only while it runs
  std::unique_ptr<PcmRing> sampleRing;            // written by Consume, read by the DSP thread
  std::unique_ptr<float[]> left;                  // DSP thread only while it runs
  std::unique_ptr<float[]> right;                 // DSP thread only while it runs
  std::uint64_t ringWraps = 0;                    // DSP thread only while it runs
  std::unique_ptr<DspThreadControl> control;
  std::atomic<std::uint8_t> listBusy{0};
  platform::Event pauseEvent{platform::Event::Reset::kManual};  // this consumer's own, unnamed
  platform::Event stopEvent{platform::Event::Reset::kAuto};     // set by the thread as it ends
  DspClock& clock;
};
