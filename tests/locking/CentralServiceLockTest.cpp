// Locking and unlocking: the launch of a locked application, the typed password, the special
// key, the end of applications, and a lock raised while another is up.
#include "tests/locking/CentralServiceFixture.h"

#include <QPointer>

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

class CentralServiceLockTest : public CentralServiceTest {
  protected:
    void SetUp() override {
        CentralServiceTest::SetUp();
        install(editorId, QStringLiteral("Editor"), true);
        install(mailId, QStringLiteral("Mail"), true);
        install(notesId, QStringLiteral("Notes"), false);
        storePassword();
        makeService();
        service->start();
        workspace->launches.clear();
    }
    // Starts an instance and reports its launch, as the monitor would.
    void launch(const QString& identifier, pid_t pid) {
        run(identifier, pid);
        willStart(identifier);
    }
};

TEST_F(CentralServiceLockTest, LaunchOfALockedApplicationPrintsAndLocksIt) {
    CaptureStdout();
    launch(editorId, 10);
    didStart(editorId);
    EXPECT_EQ(GetCapturedStdout(), "Will start: Editor\nDid start: Editor\n");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_TRUE(current().shown);
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
    EXPECT_EQ(current().focuses, 1);
    EXPECT_EQ(cbaal(), editorId);
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(service->currentlyOrPreviouslyProtectedApplication()->bundleIdentifier, editorId);
}

TEST_F(CentralServiceLockTest, LockedLaunchIsHeldUntilTheLockWindowHasBeenShown) {
    EXPECT_EQ(workspace->holdRequests, QStringList({"release all"}));
    workspace->holdRequests.clear();
    // Reports the launch with its process, as the monitor does.
    const auto launchRun = [this](const QString& identifier, pid_t pid) {
        run(identifier, pid);
        service->applicationsMonitorService().onApplicationWillStart(
            ApplicationEntity::fromRunningApplication(workspace->running.back()));
    };

    launchRun(editorId, 10);
    EXPECT_EQ(workspace->holdRequests, QStringList({"hold 10"}));
    mainQueue->runAll();
    EXPECT_EQ(workspace->holdRequests, QStringList({"hold 10", "release 10"}));

    // Neither a launch that is not locked nor a second run behind the same lock is held.
    launchRun(notesId, 30);
    launchRun(editorId, 11);
    mainQueue->runAll();
    EXPECT_EQ(workspace->holdRequests.size(), 2);
}

TEST_F(CentralServiceLockTest, LaunchOfAnApplicationNotListedOnlyPrints) {
    CaptureStdout();
    launch(notesId, 30);
    EXPECT_EQ(GetCapturedStdout(), "Will start: Notes\n");
    EXPECT_TRUE(windows.empty());
    EXPECT_FALSE(cbaal());
}

TEST_F(CentralServiceLockTest, ProtectionOffIgnoresLaunchesAndEndsWithoutALine) {
    configuration->setApplicationIsActive(false);
    CaptureStdout();
    launch(editorId, 10);
    didStart(editorId);
    end(10);
    terminated(editorId);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(windows.empty());
}

TEST_F(CentralServiceLockTest, SwitchingProtectionOffLeavesALockUpAndItsEndIgnored) {
    launch(editorId, 10);
    configuration->setApplicationIsActive(false);
    end(10);
    terminated(editorId);
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(current().closes, 0);
}

TEST_F(CentralServiceLockTest, RightPasswordReleasesAndBringsTheApplicationForward) {
    launch(editorId, 10);
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_EQ(current().closes, 1);
    EXPECT_EQ(workspace->activations, (std::vector<pid_t>{10}));
    EXPECT_FALSE(cbaal());
    EXPECT_EQ(service->currentlyOrPreviouslyProtectedApplication()->bundleIdentifier, editorId);
}

TEST_F(CentralServiceLockTest, PasswordDifferingInCaseOrSpaceKeepsTheLock) {
    launch(editorId, 10);
    typePassword(QStringLiteral("secret 1"));
    typePassword(QStringLiteral("Secret 1 "));
    typePassword(QString());
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(current().errors, 3);
    EXPECT_EQ(current().closes, 0);
    EXPECT_TRUE(workspace->activations.empty());
    EXPECT_EQ(cbaal(), editorId);
}

TEST_F(CentralServiceLockTest, CanonicallyEquivalentPasswordReleases) {
    storePassword(QString::fromUtf8("caf\xc3\xa9"));  // precomposed e-acute
    launch(editorId, 10);
    typePassword(QString::fromUtf8("cafe\xcc\x81"));  // e and a combining acute
    EXPECT_FALSE(service->applicationIsProtected());
}

TEST_F(CentralServiceLockTest, SpecialKeyNeverHandsTheBlockedApplicationTheKeyboard) {
    launch(editorId, 10);
    service->passwordWindowController()->specialKeyPressed();
    EXPECT_TRUE(workspace->activations.empty());
    EXPECT_TRUE(service->applicationIsProtected());
}

TEST_F(CentralServiceLockTest, EndOfTheLockedApplicationsLastInstanceReleasesIt) {
    launch(editorId, 10);
    end(10);
    CaptureStdout();
    terminated(editorId);
    EXPECT_EQ(GetCapturedStdout(), "Terminated: Editor\n");
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_EQ(current().closes, 1);
    EXPECT_FALSE(cbaal());
}

TEST_F(CentralServiceLockTest, EndOfOneOfTwoInstancesKeepsTheLock) {
    launch(editorId, 10);
    launch(editorId, 11);
    end(10);
    terminated(editorId);
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(cbaal(), editorId);
}

TEST_F(CentralServiceLockTest, EndOfAnotherLockedApplicationKeepsTheLock) {
    run(mailId, 20);
    launch(editorId, 10);
    end(20);
    terminated(mailId);
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(current().closes, 0);
}

TEST_F(CentralServiceLockTest, EndOfAnApplicationNotListedKeepsTheLock) {
    run(notesId, 30);
    launch(editorId, 10);
    end(30);
    terminated(notesId);
    EXPECT_TRUE(service->applicationIsProtected());
}

TEST_F(CentralServiceLockTest, SecondLockClosesTheFirstLocksWindows) {
    screens->setFrames({QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)});
    launch(editorId, 10);
    QWidget* firstCover = service->extraPasswordWindows().at(0).get();
    QPointer<QWidget> watched(firstCover);
    launch(mailId, 20);
    EXPECT_EQ(windows.at(0)->closes, 1);
    EXPECT_TRUE(watched.isNull());
    EXPECT_EQ(shownCovers(), 1u);
    EXPECT_EQ(current().message, QStringLiteral("Mail is locked"));
    EXPECT_EQ(cbaal(), mailId);
}

TEST_F(CentralServiceLockTest, FirstApplicationIsLockedAgainWhenTheSecondLockComesDown) {
    launch(editorId, 10);
    launch(mailId, 20);
    ASSERT_EQ(service->blockedBehindCurrentLock().size(), 1u);
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_TRUE(service->applicationIsProtected());
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
    EXPECT_EQ(cbaal(), editorId);
    EXPECT_TRUE(service->blockedBehindCurrentLock().empty());
}

TEST_F(CentralServiceLockTest, FirstApplicationIsLockedAgainWhenTheSecondEnds) {
    launch(editorId, 10);
    launch(mailId, 20);
    end(20);
    terminated(mailId);
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
}

TEST_F(CentralServiceLockTest, BlockedApplicationThatEndedIsNotLockedAgain) {
    launch(editorId, 10);
    launch(mailId, 20);
    end(10);
    terminated(editorId);
    EXPECT_TRUE(service->blockedBehindCurrentLock().empty());
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_EQ(windows.size(), 2u);
}

TEST_F(CentralServiceLockTest, ReplacedLockWindowIsDestroyedOnlyOnALaterTurn) {
    launch(editorId, 10);
    LockWindow* first = service->passwordWindowController();
    launch(mailId, 20);
    EXPECT_FALSE(windows.at(0)->destroyed);
    // A late submission to the replaced window does nothing.
    first->passwordEntered(QStringLiteral("Secret 1"));
    EXPECT_EQ(cbaal(), mailId);
    EXPECT_TRUE(service->applicationIsProtected());
    mainQueue->runAll();
    EXPECT_TRUE(windows.at(0)->destroyed);
    EXPECT_FALSE(windows.at(1)->destroyed);
}

TEST_F(CentralServiceLockTest, RightPasswordThatLocksTheBlockedApplicationKeepsItsCallerAlive) {
    launch(editorId, 10);
    launch(mailId, 20);
    typePassword(QStringLiteral("Secret 1"));  // runs inside the Mail window's callback
    EXPECT_FALSE(windows.at(1)->destroyed);
    mainQueue->runAll();
    EXPECT_TRUE(windows.at(1)->destroyed);
}

TEST_F(CentralServiceLockTest, SecondLaunchOfTheLockedApplicationKeepsTheLockAsItIs) {
    launch(editorId, 10);
    launch(editorId, 11);
    EXPECT_TRUE(service->blockedBehindCurrentLock().empty());
    // Not rebuilt: what the user is typing stays in the window.
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows.at(0)->closes, 0);
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
}

TEST_F(CentralServiceLockTest, DidStartWhileUnlockedDoesNotFocusAClosedWindow) {
    launch(editorId, 10);
    typePassword(QStringLiteral("Secret 1"));
    didStart(editorId);
    EXPECT_EQ(current().focuses, 0);
}

}  // namespace
