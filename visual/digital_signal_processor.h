// Something the DSP thread hands each window of samples to, about 70 times a second.
#pragma once

#include <cstdint>

class DigitalSignalProcessor {
 public:
  // left and right hold the window's frames as samples in about [-1, 1]; the processor
  // may overwrite both. timeScale is the current tick period over the nominal one.
  virtual void Process(float* left, float* right, float timeScale) = 0;
  // How many of the window's frames, from its start, Process reads; the consumer
  // converts no more than its processors read. Fixed for the processor's life.
  virtual std::uint32_t FramesRead() const { return UINT32_MAX; }

 protected:
  ~DigitalSignalProcessor() = default;  // never deleted through this interface
};
