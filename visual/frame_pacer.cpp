#include "visual/frame_pacer.h"

#include <algorithm>

namespace {
constexpr std::int64_t kNsPerMs = 1'000'000;
}

std::uint32_t SleepLengthMs(std::int64_t pauseNs) {
  if (pauseNs <= 0) return 0;
  // Whole 64 bits: a period stretched past 4.3 s by a stall must not wrap into a random sleep.
  std::int64_t ms = pauseNs / kNsPerMs;
  const std::int64_t rest = pauseNs % kNsPerMs;
  if (rest >= kNsPerMs / 2 || (rest != 0 && ms == 0)) ms += 1;
  return static_cast<std::uint32_t>(std::min<std::int64_t>(ms, UINT32_MAX));
}

FramePacer::FramePacer(int ticksPerSecond)
    : framePeriod(1'000'000'000 / std::max(ticksPerSecond, 1)), nominalPeriod(framePeriod) {}

float FramePacer::TimeScale() const {
  return static_cast<float>(static_cast<double>(framePeriod) / static_cast<double>(nominalPeriod));
}

std::uint32_t FramePacer::AfterWork(std::int64_t workNs, bool haveProcessors) {
  const std::int64_t remaining = framePeriod - workNs;
  if (haveProcessors && remaining <= 0) {
    framePeriod -= remaining;  // the period becomes the measured work time
    return kOverrunSleepMs;
  }
  const std::int64_t pause = haveProcessors ? remaining : kIdlePauseNs;
  if (framePeriod > nominalPeriod) {
    framePeriod -= pause;
  } else {
    framePeriod = nominalPeriod;
  }
  return SleepLengthMs(pause);
}
