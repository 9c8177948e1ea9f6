// Corvane's watch of Vaultine: the first check, the running-list handler, the relaunch that is
// retried until it took effect, the back-off and the path of Vaultine's bundle.
#include "tests/watchdog/WatchdogFixture.h"
#include "watchdog/ActivityMonitor.h"

using corvane::ActivityMonitor;

namespace {

class ActivityMonitorTest : public WatchdogTest {
  protected:
    void SetUp() override {
        WatchdogTest::SetUp();
        prepare(monitor);
    }
    QMap<QString, QString> relaunchMarker() const {
        return {{QStringLiteral("RestartedFromHelper"), QStringLiteral("1")}};
    }
    ActivityMonitor monitor;
};

TEST_F(ActivityMonitorTest, StartedWhileVaultineRunsAsksForNoLaunchAndKeepsWatching) {
    vaultineRuns();
    monitor.startService();
    EXPECT_TRUE(workspace->launches.empty());
    EXPECT_EQ(workspace->observerCount(), 1u);
    EXPECT_FALSE(exitStatus);
}

TEST_F(ActivityMonitorTest, StartedWithoutVaultineLaunchesItOnceWithTheMarkerAndStays) {
    monitor.startService();
    ASSERT_EQ(workspace->launches.size(), 1u);
    EXPECT_EQ(workspace->launches[0].bundlePath, vaultineBundle);
    EXPECT_EQ(workspace->launches[0].configuration, relaunchMarker());
    vaultineRuns();
    while (runNextScheduled()) {
    }
    EXPECT_FALSE(exitStatus);
    EXPECT_FALSE(monitor.isRelaunching());
}

TEST_F(ActivityMonitorTest, AnyChangeWhileVaultineRunsOnlyChecks) {
    vaultineRuns();
    monitor.startService();
    otherApplicationStarts();
    EXPECT_TRUE(workspace->launches.empty());
    EXPECT_TRUE(scheduled.empty());
    EXPECT_FALSE(exitStatus);
}

TEST_F(ActivityMonitorTest, OneOfTwoVaultineInstancesEndingChangesNothing) {
    vaultineRuns(100);
    vaultineRuns(101);
    monitor.startService();
    workspace->running.erase(workspace->running.begin());
    workspace->changeRunningApplications({});
    EXPECT_TRUE(workspace->launches.empty());
    EXPECT_FALSE(exitStatus);
}

TEST_F(ActivityMonitorTest, ChangesOfAnotherKeyPathAreIgnored) {
    monitor.startService();
    workspace->launches.clear();
    monitor.observeValueForKeyPath(QStringLiteral("frontmostApplication"), {});
    EXPECT_TRUE(workspace->launches.empty());
}

TEST_F(ActivityMonitorTest, LastVaultineEndingRelaunchesItAtOnce) {
    vaultineRuns();
    monitor.startService();
    vaultineEnds();
    ASSERT_EQ(workspace->launches.size(), 1u);
    EXPECT_EQ(workspace->launches[0].configuration, relaunchMarker());
    EXPECT_FALSE(exitStatus);
}

TEST_F(ActivityMonitorTest, EndsOnlyOnceTheRelaunchedVaultineStillRunsAfterSettling) {
    vaultineRuns();
    monitor.startService();
    vaultineEnds();
    vaultineRuns(300);
    EXPECT_FALSE(exitStatus);
    while (runNextScheduled()) {
    }
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(workspace->launches.size(), 1u);
}

TEST_F(ActivityMonitorTest, RefusedRelaunchIsRetriedAndNeverEnds) {
    vaultineRuns();
    monitor.startService();
    workspace->launchSucceeds = false;
    vaultineEnds();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(runNextScheduled());
    EXPECT_GE(workspace->launches.size(), 6u);
    EXPECT_FALSE(exitStatus);
    workspace->launchSucceeds = true;
    ASSERT_TRUE(runNextScheduled());
    vaultineRuns(300);
    while (runNextScheduled()) {
    }
    EXPECT_EQ(exitStatus, 0);
}

TEST_F(ActivityMonitorTest, VaultineThatNeverAppearsIsLaunchedAgainAfterTheTimeout) {
    vaultineRuns();
    monitor.startService();
    vaultineEnds();
    ASSERT_EQ(scheduled.size(), 1u);
    EXPECT_EQ(scheduled[0].delay, ActivityMonitor::launchConfirmationTimeout);
    runNextScheduled();
    EXPECT_EQ(workspace->launches.size(), 2u);
    EXPECT_FALSE(exitStatus);
}

TEST_F(ActivityMonitorTest, VaultineDyingRightAfterEachRelaunchBacksOffUpToThirtySeconds) {
    vaultineRuns();
    monitor.startService();
    vaultineEnds();  // the first relaunch: at once
    std::vector<long> delays;
    for (int round = 0; round < 8; ++round) {
        vaultineRuns(300 + round);
        scheduled.clear();
        const auto launchesBefore = workspace->launches.size();
        vaultineEnds();  // within seconds of its start
        if (workspace->launches.size() > launchesBefore) {
            delays.push_back(0);
            continue;
        }
        ASSERT_EQ(scheduled.size(), 1u);
        delays.push_back(static_cast<long>(scheduled[0].delay.count()));
        runNextScheduled();
        ASSERT_EQ(workspace->launches.size(), launchesBefore + 1);
    }
    EXPECT_EQ(delays, (std::vector<long>{0, 1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    EXPECT_FALSE(exitStatus);
}

TEST_F(ActivityMonitorTest, VaultineKilledAfterItWasReadyIsRelaunchedAtOnceEveryTime) {
    vaultineRuns();
    monitor.startService();
    for (int kill = 0; kill < 10; ++kill) {
        vaultineEnds();
        vaultineRuns(300 + kill);
        monitor.relaunchThrottle.peerReady();
        now += std::chrono::seconds(1);
    }
    EXPECT_EQ(workspace->launches.size(), 10u);
}

TEST_F(ActivityMonitorTest, AFolderOfTheUsersThatDeclaresVaultinesIdentifierIsNotVaultine) {
    vaultineRuns(100, QStringLiteral("/home/user/Fake.app"));
    monitor.startService();
    EXPECT_EQ(workspace->launches.size(), 1u);
}

TEST_F(ActivityMonitorTest, VaultineThatRanLongIsRelaunchedAtOnceAgain) {
    vaultineRuns();
    monitor.startService();
    vaultineEnds();
    vaultineRuns(300);
    vaultineEnds();
    vaultineRuns(301);
    vaultineEnds();  // third short run: would back off
    scheduled.clear();
    vaultineRuns(302);
    now += std::chrono::minutes(5);
    const auto launchesBefore = workspace->launches.size();
    vaultineEnds();
    EXPECT_EQ(workspace->launches.size(), launchesBefore + 1);
}

TEST_F(ActivityMonitorTest, VaultineBundleLiesFourLevelsAboveCorvane) {
    EXPECT_EQ(ActivityMonitor::masterBundlePath(), vaultineBundle);
}

TEST_F(ActivityMonitorTest, MovedCorvaneComputesAPathThatIsNotVaultine) {
    platform::testing::installMainBundle(QStringLiteral("org.vaultine.Corvane"),
                                         QStringLiteral("/home/user/tools/Apps/Corvane.app"));
    EXPECT_EQ(ActivityMonitor::masterBundlePath(), QStringLiteral("/home"));
}

}  // namespace
