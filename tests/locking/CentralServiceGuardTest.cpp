// With the system guard: the launches it holds are locked and told covered once the lock is up,
// released by the password, and the guard's policy follows the owner's changes; a keyring whose
// password was changed outside is checked against the guard and restored from what is typed.
#include "tests/locking/CentralServiceFixture.h"

#include <algorithm>

using Change = platform::Guard::Change;
using Covered = platform::testing::FakeGuard::Covered;

namespace {

class CentralServiceGuardTest : public CentralServiceTest {
  protected:
    void SetUp() override {
        CentralServiceTest::SetUp();
        install(editorId, QStringLiteral("Editor"), true);
        install(mailId, QStringLiteral("Mail"), true);
        install(notesId, QStringLiteral("Notes"), false);
    }
    void startGuarded(const QString& keyringPassword = QStringLiteral("Secret 1")) {
        storePassword(keyringPassword);
        makeService();
        service->start();
        guard->connect();
    }
    std::vector<QString> programsChanged(Change change) const {
        std::vector<QString> programs;
        for (const auto& request : guard->changes) {
            if (request.change == change)
                programs.push_back(request.program);
        }
        return programs;
    }
};

TEST_F(CentralServiceGuardTest,
       AHeldLaunchIsLockedToldCoveredOnceTheLockIsUpAndReleasedByThePassword) {
    startGuarded();
    EXPECT_EQ(guard->hellos, std::vector<QString>{QStringLiteral("Secret 1")});
    EXPECT_TRUE(service->guarded());
    EXPECT_EQ(
        programsChanged(Change::lockProgram),
        (std::vector<QString>{QStringLiteral("/usr/bin/editor"), QStringLiteral("/usr/bin/mail")}));
    EXPECT_TRUE(programsChanged(Change::unlockProgram).empty());

    guard->holdLaunch(4242, 77, QStringLiteral("/usr/bin/editor"));
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
    // Only once the lock window has had its turn to map.
    EXPECT_TRUE(guard->shown.empty());
    mainQueue->runAll();
    EXPECT_EQ(guard->shown, std::vector<Covered>{(Covered{4242, 77})});

    // A second held run of the same application goes on behind the same lock.
    guard->holdLaunch(4243, 78, QStringLiteral("/usr/bin/editor"));
    mainQueue->runAll();
    EXPECT_EQ(windows.size(), 1u);
    EXPECT_EQ(guard->shown.size(), 2u);

    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_NE(std::find(guard->released.begin(), guard->released.end(), Covered{4242, 77}),
              guard->released.end());
}

TEST_F(CentralServiceGuardTest, WhatTheGuardHoldsIsLockedEvenWhenTheSettingsNoLongerLockIt) {
    startGuarded();
    // The settings were edited behind Vaultine's back (or protection switched off): the guard's
    // policy, which only the password lowers, still holds the program.
    guard->holdLaunch(5000, 9, QStringLiteral("/usr/bin/notes"));
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(current().message, QStringLiteral("Notes is locked"));
    // A program no application is known by is locked under its file name.
    guard->holdLaunch(5001, 9, QStringLiteral("/tmp/copy of editor"));
    EXPECT_EQ(current().message, QStringLiteral("copy of editor is locked"));
}

TEST_F(CentralServiceGuardTest, ARunTheStoredListCallsKnownIsStillLockedWhenTheGuardHoldsIt) {
    // Both programs were killed under a lock and the user wrote the run into the list of known
    // runs: the guard froze it, and only the password may let it go.
    run(editorId, 4242);
    workspace->running.back().processStartTime = 77;
    KnownInstancesService().storeInstances({{4242, 77}});
    startGuarded();

    guard->holdLaunch(4242, 77, QStringLiteral("/usr/bin/editor"));
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_TRUE(guard->released.empty());
}

TEST_F(CentralServiceGuardTest, OnlyTheOwnersChangesInThisRunLowerTheGuardsPolicy) {
    startGuarded();
    guard->changes.clear();

    configuration->removeLockedApplicationBundleId(mailId);
    EXPECT_EQ(programsChanged(Change::unlockProgram),
              std::vector<QString>{QStringLiteral("/usr/bin/mail")});
    const auto unlock =
        std::find_if(guard->changes.begin(), guard->changes.end(),
                     [](const auto& c) { return c.change == Change::unlockProgram; });
    EXPECT_EQ(unlock->password, QStringLiteral("Secret 1"));
    // Protection stayed on: the guard is not told again (each change it takes is saved).
    EXPECT_TRUE(programsChanged(Change::switchOn).empty());

    configuration->setApplicationPassword(QStringLiteral("Secret 2"));
    ASSERT_FALSE(programsChanged(Change::newPassword).empty());
    EXPECT_EQ(guard->enrolled, QStringLiteral("Secret 2"));
}

TEST_F(CentralServiceGuardTest, AKeyringPasswordChangedOutsideIsCheckedByTheGuardAndRestored) {
    guard->enrolled = QStringLiteral("Owner 1");
    startGuarded(QStringLiteral("Intruder 1"));
    EXPECT_TRUE(service->guarded());
    guard->changes.clear();

    guard->holdLaunch(4242, 77, QStringLiteral("/usr/bin/editor"));
    typePassword(QStringLiteral("Intruder 1"));
    EXPECT_TRUE(service->applicationIsProtected());
    // Nothing that lowers protection goes out with the doubted password.
    configuration->removeLockedApplicationBundleId(mailId);
    EXPECT_TRUE(programsChanged(Change::unlockProgram).empty());

    typePassword(QStringLiteral("Owner 1"));
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_EQ(configuration->getApplicationPassword(), QStringLiteral("Owner 1"));
}

TEST_F(CentralServiceGuardTest, WithTheKeyringLockedTheGuardChecksTheTypedPassword) {
    guard->enrolled = QStringLiteral("Secret 1");
    startGuarded();
    // Vaultine starts again with the keyring locked: the password is unknown to it.
    secrets->unreachable = true;
    secrets->refuseWrites = true;
    service.reset();
    configuration = std::make_unique<ConfigurationAndPreferencesService>();
    makeService();
    service->start();
    guard->connect();

    guard->holdLaunch(4242, 77, QStringLiteral("/usr/bin/editor"));
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
}

}  // namespace
