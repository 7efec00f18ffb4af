// The control block of one DSP thread, shared by the consumer that owns it, the DSP
// thread itself and the playback engine's pause and resume.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class DigitalSignalProcessingAudioDataConsumer;

struct DspThreadControl {
  std::atomic<std::uint8_t> paused{0};   // set by the playback thread; the DSP thread then waits
  std::atomic<std::uint8_t> running{0};  // 1 while the thread is wanted; cleared by StopProcessing
  std::int64_t framesPlayed = 0;         // DSP thread only: output position at the previous tick
  std::uint32_t bytesPerFrame = 4;       // the output's frame size, fixed before the thread starts
  DigitalSignalProcessingAudioDataConsumer* consumer = nullptr;  // the owner
  std::thread thread;        // owner's thread only (start and join)
  std::thread::id threadId;  // fixed once started
};
