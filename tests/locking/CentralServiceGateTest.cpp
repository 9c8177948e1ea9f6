// The gate, where the lock cannot hide the screen: a locked launch stays held until the password
// (never told shown to the system guard), a close of the lock window ends the runs it held, and a
// killed predecessor's holds are kept for the runs locked again.
#include "tests/locking/CentralServiceFixture.h"

#include <algorithm>

using Covered = platform::testing::FakeGuard::Covered;

namespace {

class CentralServiceGateTest : public CentralServiceTest {
  protected:
    void SetUp() override {
        CentralServiceTest::SetUp();
        gate = true;
        install(editorId, QStringLiteral("Editor"), true);
        install(notesId, QStringLiteral("Notes"), false);
        storePassword();
    }
    void start() {
        makeService();
        service->start();
    }
    // Starts an instance and reports its launch with its process, as the monitor does.
    void launch(const QString& identifier, pid_t pid) {
        run(identifier, pid);
        service->applicationsMonitorService().onApplicationWillStart(
            ApplicationEntity::fromRunningApplication(workspace->running.back()));
    }
    bool requested(const QString& request) const {
        return workspace->holdRequests.contains(request);
    }
};

TEST_F(CentralServiceGateTest, ALockedLaunchIsHeldUntilTheRightPasswordAndTheGuardKeepsItsHold) {
    start();
    guard->connect();
    workspace->holdRequests.clear();

    launch(editorId, 10);
    // A second run behind the same lock is held as well.
    launch(editorId, 11);
    guard->holdLaunch(4242, 77, QStringLiteral("/usr/bin/editor"));
    mainQueue->runAll();
    EXPECT_EQ(workspace->holdRequests, QStringList({"gate 10", "gate 11"}));
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
    EXPECT_TRUE(guard->shown.empty()) << "the guard must keep the run frozen";

    typePassword(QStringLiteral("wrong"));
    mainQueue->runAll();
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(workspace->holdRequests.size(), 2);
    EXPECT_TRUE(guard->released.empty());

    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_TRUE(requested(QStringLiteral("release 10")));
    EXPECT_TRUE(requested(QStringLiteral("release 11")));
    EXPECT_NE(std::find(guard->released.begin(), guard->released.end(), Covered{4242, 77}),
              guard->released.end());
}

TEST_F(CentralServiceGateTest, ClosingTheLockWindowEndsTheRunsItHeldButNeverOneShowingWindows) {
    start();
    launch(editorId, 10);
    typePassword(QStringLiteral("Secret 1"));
    launch(editorId, 12);
    ASSERT_TRUE(service->applicationIsProtected());
    workspace->holdRequests.clear();

    service->passwordWindowController()->closedByUser();
    // Only the run the lock held: the one the password released goes on.
    EXPECT_EQ(workspace->holdRequests, QStringList({"end 12"}));
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_FALSE(cbaal());
    EXPECT_GE(current().closes, 1);

    // A run that showed its windows before its lock was never held: ending it would lose the
    // owner's work in it, so the close leaves it and its lock.
    workspace->showingWindows.insert(13);
    launch(editorId, 13);
    ASSERT_TRUE(service->applicationIsProtected());
    workspace->holdRequests.clear();
    service->passwordWindowController()->closedByUser();
    EXPECT_TRUE(workspace->holdRequests.isEmpty())
        << workspace->holdRequests.join(", ").toStdString();
    EXPECT_TRUE(service->applicationIsProtected());
}

TEST_F(CentralServiceGateTest, ARunFoundRunningIsNeverStoppedAndAPredecessorsHoldsWaitForItsLock) {
    // A killed predecessor held run 20 on the gate; run 21 ran already; run 30 is not locked any
    // more and run 99 is gone.
    run(editorId, 20);
    run(editorId, 21);
    run(notesId, 30);
    workspace->leftHeld = {{20, 0}, {30, 0}, {99, 0}};
    start();

    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(workspace->holdRequests, QStringList({"take over", "release 30", "release 99"}));
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_TRUE(requested(QStringLiteral("release 20")));
    EXPECT_FALSE(requested(QStringLiteral("gate 21")));
}

}  // namespace
