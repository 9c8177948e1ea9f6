// Which runs are locked and for how long: a run claimed by a locked application under another
// name, a lock held while anything of the application runs, runs the password released, runs that
// began while Vaultine was down, and locked identifiers that resolve to nothing.
#include "tests/locking/CentralServiceFixture.h"

#include "locking/KnownInstancesService.h"
#include "storage/KeyConstants.h"

namespace {

class CentralServiceIdentityTest : public CentralServiceTest {
  protected:
    void SetUp() override {
        CentralServiceTest::SetUp();
        install(editorId, QStringLiteral("Editor"), true);
        install(notesId, QStringLiteral("Notes"), false);
        storePassword();
    }
    void startService() {
        makeService();
        service->start();
    }
    // Starts a run shown as `identifier`, claimed by `others` too, and reports it.
    void launch(const QString& identifier, pid_t pid, const QStringList& others = {}) {
        run(identifier, pid);
        workspace->running.back().otherBundleIdentifiers = others;
        workspace->running.back().processStartTime = 1000 + pid;
        announce(pid);
    }
    void announce(pid_t pid) {
        for (const auto& application : workspace->running) {
            if (application.processIdentifier == pid)
                service->applicationsMonitorService().onApplicationWillStart(
                    ApplicationEntity::fromRunningApplication(application));
        }
    }
    void endAndReport(pid_t pid) {
        for (const auto& application : workspace->running) {
            if (application.processIdentifier != pid)
                continue;
            const auto ended = ApplicationEntity::fromRunningApplication(application);
            end(pid);
            service->applicationsMonitorService().onApplicationTerminated(ended);
            return;
        }
    }
};

TEST_F(CentralServiceIdentityTest, RunShownUnderAnotherNameIsLockedWhenAnyClaimIsLocked) {
    startService();
    launch(notesId, 10, {editorId});
    ASSERT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(current().message, QStringLiteral("Notes is locked"));
}

TEST_F(CentralServiceIdentityTest, LockStaysWhileAnythingOfTheApplicationRuns) {
    startService();
    launch(editorId, 10);
    // The launcher hands over to a server that runs on the application's behalf.
    launch(notesId, 11, {editorId});
    endAndReport(10);
    EXPECT_TRUE(service->applicationIsProtected());
    endAndReport(11);
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_FALSE(cbaal());
}

TEST_F(CentralServiceIdentityTest, ReleasedRunAnnouncedAgainStaysReleasedButANewRunLocks) {
    startService();
    launch(editorId, 10);
    typePassword(QStringLiteral("Secret 1"));
    ASSERT_FALSE(service->applicationIsProtected());
    // A window of the released run names the application again.
    announce(10);
    EXPECT_FALSE(service->applicationIsProtected());
    launch(editorId, 12);
    EXPECT_TRUE(service->applicationIsProtected());
}

TEST_F(CentralServiceIdentityTest, RestartLocksTheRunsThatBeganWhileItWasDown) {
    startService();
    launch(editorId, 10);
    typePassword(QStringLiteral("Secret 1"));
    // Vaultine is killed; a second editor starts before it is back.
    service.reset();
    mainQueue->runAll();
    run(editorId, 20);
    workspace->running.back().processStartTime = 1020;
    windows.clear();

    startService();
    ASSERT_TRUE(service->applicationIsProtected());
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_EQ(windows.size(), 1u) << "the released run 10 is not locked again";
}

// A deleted or broken defaults file knows no run: every run of a locked application is locked.
// Only Quit (which needed the password) and the set-up in this process let what runs be.
TEST_F(CentralServiceIdentityTest, WithoutAReadableListOfKnownRunsWhatRunsIsLocked) {
    run(editorId, 10);
    startService();
    EXPECT_TRUE(service->applicationIsProtected());

    // Quit, after the password.
    service.reset();
    defaults->values.remove(KeyConstants::CURRENT_BLOCKED_APP_KEY);
    KnownInstancesService().storeEverythingKnown();
    startService();
    EXPECT_FALSE(service->applicationIsProtected());
    const auto stored = KnownInstancesService::decode(
        defaults->values.value(KeyConstants::KNOWN_INSTANCES_KEY).toString());
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, (KnownInstancesService::Instances{{10, 0}}));
}

TEST_F(CentralServiceIdentityTest, TheStartThatFollowsTheSetUpTakesWhatRunsAsKnown) {
    secrets->items.clear();
    configuration = std::make_unique<ConfigurationAndPreferencesService>();
    defaults->values = {};
    run(editorId, 10);
    startService();
    EXPECT_FALSE(service->monitoringServiceStarted());
    storePassword();
    EXPECT_TRUE(service->monitoringServiceStarted());
    EXPECT_FALSE(service->applicationIsProtected());
}

TEST_F(CentralServiceIdentityTest, LockedIdentifierThatResolvesToNothingStaysLocked) {
    configuration->addLockedApplicationBundleId(QStringLiteral("org.example.Hidden"));
    startService();
    launch(notesId, 10, {QStringLiteral("org.example.Hidden")});
    EXPECT_TRUE(service->applicationIsProtected());
}

TEST(KnownInstancesEncoding, KeepsAnEmptyListApartFromNoneAndDropsBadPieces) {
    EXPECT_FALSE(KnownInstancesService::decode(QString()));
    EXPECT_FALSE(KnownInstancesService::decode(QStringLiteral("12:34;")));
    EXPECT_EQ(KnownInstancesService::decode(KnownInstancesService::encode({})),
              KnownInstancesService::Instances());
    const KnownInstancesService::Instances runs{{12, 34}, {56, 0}};
    EXPECT_EQ(KnownInstancesService::decode(KnownInstancesService::encode(runs)), runs);
    EXPECT_EQ(KnownInstancesService::decode(QStringLiteral("known;7:8;x:1;-3:4;9;10:11:12;")),
              KnownInstancesService::Instances({{7, 8}}));
}

}  // namespace
