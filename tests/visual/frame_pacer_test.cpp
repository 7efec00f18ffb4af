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

TEST(FramePacer, SeventyTicksGiveTheNominalPeriod) {
  FramePacer pacer(70);
  EXPECT_EQ(pacer.NominalPeriod(), 14'285'714);
  EXPECT_EQ(pacer.FramePeriod(), 14'285'714);
  EXPECT_FLOAT_EQ(pacer.TimeScale(), 1.0f);
  EXPECT_EQ(pacer.AfterWork(0, true), 14u);
  EXPECT_EQ(pacer.AfterWork(285'714, true), 14u);
  EXPECT_EQ(pacer.FramePeriod(), 14'285'714);
}

TEST(FramePacer, OverrunMakesThePeriodTheWorkTimeAndSleepsTenMs) {
  FramePacer pacer(70);
  EXPECT_EQ(pacer.AfterWork(20'000'000, true), FramePacer::kOverrunSleepMs);
  EXPECT_EQ(pacer.FramePeriod(), 20'000'000);
  EXPECT_NEAR(pacer.TimeScale(), 1.4f, 1e-6);
  // Work that exactly fills the period is an overrun too.
  EXPECT_EQ(pacer.AfterWork(20'000'000, true), 10u);
  EXPECT_EQ(pacer.FramePeriod(), 20'000'000);
}

TEST(FramePacer, AfterOverrunsThePeriodSettlesBackToNominal) {
  FramePacer pacer(70);
  pacer.AfterWork(20'000'000, true);
  // Work drops to 5 ms: sleep out the rest of the long period, which becomes the work time.
  EXPECT_EQ(pacer.AfterWork(5'000'000, true), 15u);
  EXPECT_EQ(pacer.FramePeriod(), 5'000'000);
  // Finishing early at or below nominal restores the nominal period.
  EXPECT_EQ(pacer.AfterWork(4'000'000, true), 1u);
  EXPECT_EQ(pacer.FramePeriod(), 14'285'714);
}

TEST(FramePacer, WithoutProcessorsItWakesOnceASecond) {
  FramePacer pacer(70);
  EXPECT_EQ(pacer.AfterWork(0, false), 1000u);
  EXPECT_EQ(pacer.AfterWork(50'000'000, false), 1000u) << "no overrun path without processors";
  EXPECT_EQ(pacer.FramePeriod(), 14'285'714);
}

TEST(FramePacer, ANonPositiveRateIsTakenAsOneTickASecond) {
  EXPECT_EQ(FramePacer(0).NominalPeriod(), 1'000'000'000);
}

}  // namespace
