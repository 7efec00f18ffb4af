// The time the DSP thread paces itself by. The program uses the performance counter
// and real sleeps; tests give a clock of their own.
#pragma once

#include <cstdint>

class DspClock {
 public:
  virtual ~DspClock() = default;
  virtual std::int64_t NowNanoseconds() = 0;
  virtual void SleepMs(std::uint32_t milliseconds) = 0;
};

// The performance counter and the kernel's sleep. Safe from any thread.
DspClock& PerformanceCounterClock();
