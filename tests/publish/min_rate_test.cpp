#include <gtest/gtest.h>

#include "tools/publish/verify/min_rate.h"

namespace {

// At least 1000 bytes in every 10 s; times in seconds from the transfer's start.
class RateWatchTest : public ::testing::Test {
protected:
    RateWatch::Clock::time_point At(double seconds) const {
        return start + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    }
    const MinimumRate floor{1000, 10};
    const RateWatch::Clock::time_point start = RateWatch::Clock::now();
};

TEST_F(RateWatchTest, ASlowSteadyLinkHoldsAndATrickleFailsOnceAWholeWindowHasPassed) {
    RateWatch steady(floor, start);
    RateWatch trickle(floor, start);
    for (int second = 1; second <= 60; ++second) {
        EXPECT_TRUE(steady.Holds(second * 150u, At(second))) << second;  // 1500 bytes in every 10 s
    }
    for (int second = 1; second < 10; ++second) {
        EXPECT_TRUE(trickle.Holds(second * 50u, At(second))) << second;  // too early to judge
    }
    EXPECT_FALSE(trickle.Holds(500, At(10)));
    EXPECT_EQ(trickle.ShortWindowBytes(), 500u);
}

TEST_F(RateWatchTest, ABurstThenSilenceFailsOneWindowAfterTheBurst) {
    RateWatch watch(floor, start);
    for (double second : {1.0, 2.0, 5.0, 9.0, 10.5}) EXPECT_TRUE(watch.Holds(5000, At(second))) << second;
    EXPECT_FALSE(watch.Holds(5000, At(11)));
    EXPECT_EQ(watch.ShortWindowBytes(), 0u);
}

TEST_F(RateWatchTest, ReadsThatReturnRarelyAreJudgedOverTheWholeTimeBetweenThem) {
    RateWatch watch(floor, start);
    EXPECT_TRUE(watch.Holds(20000, At(25)));  // 20000 bytes in 25 s: enough in every 10 s on average
    EXPECT_FALSE(watch.Holds(20100, At(50)));  // 100 bytes in the 25 s since
}

}  // namespace
