// The pace of restarts shared by both programs: a peer that was ready is started again at once
// every time; one that keeps dying before it is ready waits 1 s, 2 s ... up to 30 s.
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

TEST_F(RelaunchThrottleTest, ShortRunsThatNeverGotReadyDoubleTheWaitUpToThirtySeconds) {
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

TEST_F(RelaunchThrottleTest, APeerKilledAfterItWasReadyIsStartedAtOnceEveryTime) {
    for (int i = 0; i < 50; ++i) {
        throttle.launched();
        now += 200ms;
        throttle.peerReady();
        now += 300ms;
        ASSERT_EQ(throttle.delayAfterEnd(), 0ms) << "kill " << i;
    }
    EXPECT_EQ(throttle.consecutiveShortRuns(), 0);

    // Readiness belongs to one run: the next start that dies before it is ready counts again.
    throttle.launched();
    now += 1s;
    EXPECT_EQ(throttle.delayAfterEnd(), 0ms);
    throttle.launched();
    now += 1s;
    EXPECT_EQ(throttle.delayAfterEnd(), 1000ms);
}

}  // namespace
