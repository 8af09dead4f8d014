#include <gtest/gtest.h>

#include <climits>

#include "engine/download_progress.h"

namespace {

TEST(SpeedMeasurement, BytesSinceTheLastSampleOverElapsedTime) {
    SpeedSample s = MeasureSpeed(/*done*/ 3000000, /*total*/ 10000000, /*last*/ 1000000, 1000);
    EXPECT_DOUBLE_EQ(s.speed, 2000000.0);
    EXPECT_EQ(s.secondsLeft, 3);  // 7 000 000 / 2 000 000 = 3.5, truncated
}

TEST(SpeedMeasurement, NoBytesGiveNoSpeedAndNoEstimate) {
    SpeedSample s = MeasureSpeed(500, 1000, 500, 800);
    EXPECT_EQ(s.speed, 0.0);
    EXPECT_EQ(s.secondsLeft, 0);
}

TEST(SpeedMeasurement, DoneBelowTheLastSampleDoesNotWrap) {
    // A list whose sizes are smaller than the files: the next file starts below
    // the last sample. The difference is taken as zero, not as four billion.
    SpeedSample s = MeasureSpeed(100, 1000, 900, 600);
    EXPECT_EQ(s.speed, 0.0);
    EXPECT_EQ(s.secondsLeft, 0);
}

TEST(SpeedMeasurement, DonePastTheTotalLeavesNoTimeRatherThanAWrappedOne) {
    SpeedSample s = MeasureSpeed(2000, 1000, 1000, 1000);
    EXPECT_DOUBLE_EQ(s.speed, 1000.0);
    EXPECT_EQ(s.secondsLeft, 0);
}

TEST(SpeedMeasurement, EstimateThatDoesNotFitIsTheMostNegativeValue) {
    SpeedSample s = MeasureSpeed(1, 4294967295u, 0, 1000000);  // 0.001 bytes per second
    EXPECT_GT(s.speed, 0.0);
    EXPECT_EQ(s.secondsLeft, INT_MIN);
}

}  // namespace
