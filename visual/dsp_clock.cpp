#include "visual/dsp_clock.h"

#include "platform/kernel/clock.h"

namespace {

class PerformanceCounter final : public DspClock {
 public:
  std::int64_t NowNanoseconds() override { return platform::PerformanceCounterNs(); }
  void SleepMs(std::uint32_t milliseconds) override { platform::SleepMs(milliseconds); }
};

}  // namespace

DspClock& PerformanceCounterClock() {
  static PerformanceCounter clock;
  return clock;
}
