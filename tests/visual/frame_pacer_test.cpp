#include "visual/frame_pacer.h"

#include <gtest/gtest.h>

namespace {

struct SleepCase {
  std::int64_t pauseNs;
  std::uint32_t ms;
};

class SleepLength : public testing::TestWithParam<SleepCase> {};

TEST_P(SleepLength, RoundsToNearestMillisecondWithAtLeastOne) {
  EXPECT_EQ(SleepLengthMs(GetParam().pauseNs), GetParam().ms) << GetParam().pauseNs << " ns";
}

INSTANTIATE_TEST_SUITE_P(Rows, SleepLength,
                         testing::Values(SleepCase{14'285'714, 14}, SleepCase{14'600'000, 15},
                                         SleepCase{300'000, 1}, SleepCase{1, 1},
                                         SleepCase{1'000'000, 1}, SleepCase{1'499'999, 1},
                                         SleepCase{1'500'000, 2}, SleepCase{0, 0},
                                         SleepCase{5'000'000'000, 5000}));  // no 32-bit wrap

// One pacer at 70 ticks a second through work that fits, overruns (work that exactly
// fills the period is one too), settles back, and ticks without processors.
TEST(FramePacer, SleepsOutThePeriodAndStretchesItForWorkThatOverruns) {
  struct Step {
    std::int64_t workNs;
    bool processors;
    std::uint32_t sleepMs;
    std::int64_t period;  // afterwards
    float timeScale;
  };
  const Step steps[] = {
      {0, true, 14, 14'285'714, 1.0f},
      {285'714, true, 14, 14'285'714, 1.0f},
      {20'000'000, true, FramePacer::kOverrunSleepMs, 20'000'000, 1.4f},
      {20'000'000, true, 10, 20'000'000, 1.4f},
      // Work drops: sleep out the rest of the long period, which becomes the work time,
      // and finishing early at or below nominal restores the nominal period.
      {5'000'000, true, 15, 5'000'000, 0.35f},
      {4'000'000, true, 1, 14'285'714, 1.0f},
      {0, false, 1000, 14'285'714, 1.0f},
      {50'000'000, false, 1000, 14'285'714, 1.0f},  // no overrun without processors
  };
  FramePacer pacer(70);
  EXPECT_EQ(pacer.NominalPeriod(), 14'285'714);
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "work " << step.workNs << " ns");
    EXPECT_EQ(pacer.AfterWork(step.workNs, step.processors), step.sleepMs);
    EXPECT_EQ(pacer.FramePeriod(), step.period);
    EXPECT_NEAR(pacer.TimeScale(), step.timeScale, 1e-6);
  }
  EXPECT_EQ(FramePacer(0).NominalPeriod(), 1'000'000'000) << "a rate of 0 is one tick a second";
}

}  // namespace
