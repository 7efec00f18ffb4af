#include "visual/frame_pacer.h"

#include <gtest/gtest.h>

namespace {

TEST(SleepLength, RoundsToNearestMillisecondWithAtLeastOne) {
  struct Row {
    std::int64_t pauseNs;
    std::uint32_t ms;
  };
  for (const Row& r : {Row{.pauseNs = 14'285'714, .ms = 14}, Row{.pauseNs = 14'600'000, .ms = 15},
                       Row{.pauseNs = 300'000, .ms = 1}, Row{.pauseNs = 1, .ms = 1},
                       Row{.pauseNs = 1'000'000, .ms = 1}, Row{.pauseNs = 1'499'999, .ms = 1},
                       Row{.pauseNs = 1'500'000, .ms = 2}, Row{.pauseNs = 0, .ms = 0},
                       Row{.pauseNs = 5'000'000'000, .ms = 5000}})  // no 32-bit wrap
    EXPECT_EQ(SleepLengthMs(r.pauseNs), r.ms) << r.pauseNs << " ns";
}

// One pacer at 70 ticks a second through work that fits, overruns (work that exactly
// fills the period is one too), settles back, and ticks without processors.
TEST(FramePacer, SleepsOutThePeriodAndStretchesItForWorkThatOverruns) {
  constexpr std::int64_t kNominal = 14'285'714, kLong = 20'000'000;
  struct Step {
    std::int64_t workNs;
    bool processors = true;
    std::uint32_t sleepMs;
    std::int64_t period = kNominal;  // afterwards
    float timeScale = 1.0f;
  };
  const Step steps[] = {
      {.workNs = 0, .sleepMs = 14},
      {.workNs = 285'714, .sleepMs = 14},
      {.workNs = kLong, .sleepMs = FramePacer::kOverrunSleepMs, .period = kLong, .timeScale = 1.4f},
      {.workNs = kLong, .sleepMs = 10, .period = kLong, .timeScale = 1.4f},
      // Work drops: sleep out the rest of the long period, which becomes the work time,
      // and finishing early at or below nominal restores the nominal period.
      {.workNs = 5'000'000, .sleepMs = 15, .period = 5'000'000, .timeScale = 0.35f},
      {.workNs = 4'000'000, .sleepMs = 1},
      {.workNs = 0, .processors = false, .sleepMs = 1000},
      {.workNs = 50'000'000, .processors = false, .sleepMs = 1000},  // no overrun without them
  };
  FramePacer pacer(70);
  EXPECT_EQ(pacer.NominalPeriod(), kNominal);
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "work " << step.workNs << " ns");
    EXPECT_EQ(pacer.AfterWork(step.workNs, step.processors), step.sleepMs);
    EXPECT_EQ(pacer.FramePeriod(), step.period);
    EXPECT_NEAR(pacer.TimeScale(), step.timeScale, 1e-6);
  }
  EXPECT_EQ(FramePacer(0).NominalPeriod(), 1'000'000'000) << "a rate of 0 is one tick a second";
}

}  // namespace
