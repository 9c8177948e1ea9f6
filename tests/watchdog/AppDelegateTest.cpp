// Corvane's delegate: the order of its start-up steps and its end on Vaultine's terminate
// notification, and on that notification only, from our own Vaultine only.
#include "tests/watchdog/WatchdogFixture.h"
#include "watchdog/AppDelegate.h"

using corvane::AppDelegate;

namespace {

class CorvaneAppDelegateTest : public WatchdogTest {
  protected:
    void launch() {
        delegate.exitProcess = [this](int status) { exitStatus = status; };
        delegate.isMasterProcess = [](pid_t pid) { return pid == vaultinePid; };
        // The monitor's launch happens before the notification is observed.
        workspace->launchSucceeds = true;
        delegate.monitorSetUp = [this](corvane::ActivityMonitor& monitor) { prepare(monitor); };
        delegate.applicationDidFinishLaunching();
        prepare(*delegate.activityMonitor());
        delegate.activityMonitor()->exitProcess = [this](int status) { exitStatus = status; };
    }
    static constexpr pid_t vaultinePid = 100;
    AppDelegate delegate;
};

TEST_F(CorvaneAppDelegateTest, LaunchingStartsTheMonitorThenObservesTheTerminateNotification) {
    launch();
    ASSERT_NE(delegate.activityMonitor(), nullptr);
    EXPECT_EQ(workspace->launches.size(), 1u);
    EXPECT_EQ(notifications->observerCount(), 1u);
    EXPECT_FALSE(exitStatus);
}

TEST_F(CorvaneAppDelegateTest, TerminateNotificationWithVaultineIdentifierEndsWithStatusZero) {
    vaultineRuns();
    launch();
    notifications->deliver(QStringLiteral("TERMINATE_HELPER_VAULTINE"),
                           QStringLiteral("org.vaultine.Vaultine"), vaultinePid);
    EXPECT_EQ(exitStatus, 0);
}

TEST_F(CorvaneAppDelegateTest, TerminateNotificationFromAnyOtherProcessIsIgnored) {
    vaultineRuns();
    launch();
    for (const pid_t sender : {0, 4242})
        notifications->deliver(QStringLiteral("TERMINATE_HELPER_VAULTINE"),
                               QStringLiteral("org.vaultine.Vaultine"), sender);
    EXPECT_FALSE(exitStatus);
}

TEST_F(CorvaneAppDelegateTest, TerminateNotificationWithAnotherObjectIsIgnored) {
    vaultineRuns();
    launch();
    notifications->deliver(QStringLiteral("TERMINATE_HELPER_VAULTINE"),
                           QStringLiteral("org.example.Other"));
    EXPECT_FALSE(exitStatus);
}

TEST_F(CorvaneAppDelegateTest, OtherNotificationWithVaultineIdentifierIsIgnored) {
    vaultineRuns();
    launch();
    notifications->deliver(QStringLiteral("SOMETHING_ELSE"),
                           QStringLiteral("org.vaultine.Vaultine"));
    EXPECT_FALSE(exitStatus);
}

}  // namespace
