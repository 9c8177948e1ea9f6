// Corvane kept running: restarted at once when it ends, whatever the protection switch says, and
// backing off only while it keeps dying before it is ready.
#include "tests/locking/CentralServiceFixture.h"

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using namespace std::chrono_literals;

namespace {

class CentralServiceHelperTest : public CentralServiceTest {
  protected:
    void SetUp() override {
        CentralServiceTest::SetUp();
        storePassword();
        makeService();
        service->start();
    }
    void helperEnds() { service->applicationsMonitorService().onHelperTerminated(); }
};

TEST_F(CentralServiceHelperTest, EndOfCorvanePrintsAndRestartsItAtOnce) {
    now += 1min;
    CaptureStdout();
    helperEnds();
    EXPECT_EQ(GetCapturedStdout(), "Helper Terminated\n");
    EXPECT_EQ(corvaneLaunches(), 2u);
    EXPECT_TRUE(scheduled.empty());
}

TEST_F(CentralServiceHelperTest, EndOfCorvaneRestartsItWithProtectionOff) {
    configuration->setApplicationIsActive(false);
    now += 1min;
    helperEnds();
    EXPECT_EQ(corvaneLaunches(), 2u);
}

TEST_F(CentralServiceHelperTest, CorvaneDyingAtEachStartIsRestartedLessAndLessOften) {
    std::vector<long> delays;
    for (int i = 0; i < 8; ++i) {
        now += 1s;
        const auto before = corvaneLaunches();
        helperEnds();
        if (corvaneLaunches() > before) {
            delays.push_back(0);
            continue;
        }
        ASSERT_EQ(scheduled.size(), 1u);
        delays.push_back(static_cast<long>(scheduled[0].delay.count()));
        runNextScheduled();
        ASSERT_EQ(corvaneLaunches(), before + 1);
    }
    EXPECT_EQ(delays, (std::vector<long>{0, 1000, 2000, 4000, 8000, 16000, 30000, 30000}));
}

TEST_F(CentralServiceHelperTest, CorvaneKilledAfterItWasReadyIsRestartedAtOnceEveryTime) {
    for (int i = 0; i < 20; ++i) {
        service->helperRelaunchThrottle.peerReady();
        now += 1s;
        helperEnds();
        ASSERT_TRUE(scheduled.empty()) << "kill " << i;
    }
    EXPECT_EQ(corvaneLaunches(), 21u);

    now += 1s;
    helperEnds();
    now += 1s;
    CaptureStdout();
    helperEnds();
    EXPECT_EQ(GetCapturedStdout(),
              "Helper Terminated\nCorvane ended before it was ready 2 times in a row; starting it "
              "again in 1 s\n");
}

TEST_F(CentralServiceHelperTest, EndsWhileARestartWaitsScheduleNoSecondOne) {
    now += 1s;
    helperEnds();
    now += 1s;
    helperEnds();
    ASSERT_EQ(scheduled.size(), 1u);
    helperEnds();
    EXPECT_EQ(scheduled.size(), 1u);
}

TEST_F(CentralServiceHelperTest, CorvaneThatRanLongIsRestartedAtOnceAgain) {
    now += 1s;
    helperEnds();
    now += 1s;
    helperEnds();
    runNextScheduled();
    now += 10min;
    const auto before = corvaneLaunches();
    helperEnds();
    EXPECT_EQ(corvaneLaunches(), before + 1);
}

}  // namespace
