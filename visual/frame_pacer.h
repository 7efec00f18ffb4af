// The DSP thread's pacing rule: one tick per nominal period measured from the start of
// the tick's work, whole-millisecond sleeps, and a longer period (reported to the
// processors as timeScale) while the work does not fit. Pure arithmetic.
#pragma once

#include <cstdint>

// Whole milliseconds to sleep for pauseNs: rounded to the nearest, and at least 1 when
// any time remains.
std::uint32_t SleepLengthMs(std::int64_t pauseNs);

class FramePacer {
 public:
  static constexpr std::uint32_t kOverrunSleepMs = 10;
  static constexpr std::int64_t kIdlePauseNs = 1'000'000'000;  // with no processors

  explicit FramePacer(int ticksPerSecond);

  std::int64_t NominalPeriod() const { return nominalPeriod; }
  std::int64_t FramePeriod() const { return framePeriod; }
  float TimeScale() const;
  void Reset() { framePeriod = nominalPeriod; }

  // After a tick whose work took workNs: the sleep before the next tick, with the
  // period updated for it.
  std::uint32_t AfterWork(std::int64_t workNs, bool haveProcessors);

 private:
  std::int64_t framePeriod;
  std::int64_t nominalPeriod;
};
