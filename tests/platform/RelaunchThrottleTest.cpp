// The pace of restarts shared by both programs: at once, then doubling from 1 s up to 30 s while
// each run is short, and at once again after a long run.
#include <gtest/gtest.h>

#include "platform/RelaunchThrottle.h"

using namespace std::chrono_literals;
using platform::RelaunchThrottle;

namespace {

class RelaunchThrottleTest : public ::testing::Test {
  protected:
    RelaunchThrottleTest() {
        throttle.now = [this] { return now; };
    }
    RelaunchThrottle::Clock::time_point now{std::chrono::hours(1)};
    RelaunchThrottle throttle;
};

TEST_F(RelaunchThrottleTest, EndWithoutAKnownStartRestartsAtOnce) {
    EXPECT_EQ(throttle.delayAfterEnd(), 0ms);
}

TEST_F(RelaunchThrottleTest, ShortRunsDoubleTheWaitUpToThirtySeconds) {
    std::vector<long> delays;
    for (int i = 0; i < 9; ++i) {
        throttle.launched();
        now += 2s;
        const auto delay = throttle.delayAfterEnd();
        delays.push_back(static_cast<long>(delay.count()));
        now += delay;
    }
    EXPECT_EQ(delays, (std::vector<long>{0, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

TEST_F(RelaunchThrottleTest, LongRunRestartsAtOnceAgain) {
    for (int i = 0; i < 4; ++i) {
        throttle.launched();
        now += 1s;
        throttle.delayAfterEnd();
    }
    throttle.launched();
    now += 60s;
    EXPECT_EQ(throttle.delayAfterEnd(), 0ms);
    EXPECT_EQ(throttle.consecutiveShortRuns(), 0);
}

}  // namespace
