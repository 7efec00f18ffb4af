// Something the DSP thread hands each window of samples to, about 70 times a second.
#pragma once

class DigitalSignalProcessor {
 public:
  // left and right hold the window's frames as samples in about [-1, 1]; the processor
  // may overwrite both. timeScale is the current tick period over the nominal one.
  virtual void Process(float* left, float* right, float timeScale) = 0;

 protected:
  ~DigitalSignalProcessor() = default;  // never deleted through this interface
};
