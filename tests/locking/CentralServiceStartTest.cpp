// Starting protection: without and with a password, the start that a stored password sets off,
// a keyring that does not answer, the administrative switch, and the lock restored from "cbaal"
// after a restart.
#include "tests/locking/CentralServiceFixture.h"

#include "locking/KnownInstancesService.h"

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

TEST_F(CentralServiceTest, StartWithoutPasswordPrintsWhyAndStartsNothing) {
    install(editorId, QStringLiteral("Editor"), true);
    makeService();
    CaptureStdout();
    service->start();
    EXPECT_EQ(GetCapturedStdout(), "Will not start. No password\n");
    EXPECT_FALSE(service->monitoringServiceStarted());
    EXPECT_EQ(corvaneLaunches(), 0u);
    EXPECT_FALSE(service->applicationsMonitorService().onApplicationWillStart);
}

TEST_F(CentralServiceTest, StoringAFirstPasswordStartsProtectionByItself) {
    install(editorId, QStringLiteral("Editor"), true);
    makeService();
    CaptureStdout();
    service->start();
    storePassword();
    EXPECT_EQ(GetCapturedStdout(), "Will not start. No password\nMonitoring services started\n");
    EXPECT_TRUE(service->monitoringServiceStarted());
    EXPECT_EQ(corvaneLaunches(), 1u);
    EXPECT_EQ(service->PASSWORD, QStringLiteral("Secret 1"));
}

// A restart whose keyring is locked (or lost the password) protects from the defaults' copy: the
// current lock and the runs started meanwhile are locked, and the lock says why no text opens it
// until the keyring answers.
TEST_F(CentralServiceTest, AKeyringLockedAtStartProtectsWithThePasswordUnknownUntilItAnswers) {
    install(editorId, QStringLiteral("Editor"), true);
    storePassword();
    configuration->readProtectionSettings();
    KnownInstancesService().storeInstances({});
    configuration = std::make_unique<ConfigurationAndPreferencesService>();  // a restart
    secrets->unreachable = true;
    run(editorId, 10);
    CaptureStdout();
    makeService();
    service->start();
    EXPECT_TRUE(service->monitoringServiceStarted());
    EXPECT_EQ(corvaneLaunches(), 1u);
    ASSERT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(windows.back()->lastError, ApplicationsLockerCentralService::PASSWORD_UNKNOWN_LINE);
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_TRUE(service->applicationIsProtected());

    secrets->announceAvailability();  // still locked: nothing changes, nothing is printed again
    secrets->unreachable = false;
    secrets->announceAvailability();
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
    const std::string printed = GetCapturedStdout();
    EXPECT_NE(printed.find("The keyring answers again"), std::string::npos) << printed;
}

TEST_F(CentralServiceTest, AKeyringLockedWhileRunningKeepsTheProtectionLastRead) {
    install(editorId, QStringLiteral("Editor"), true);
    storePassword();
    makeService();
    service->start();
    secrets->unreachable = true;
    configuration->setApplicationIsActive(false);  // refused, and the reload finds no answer

    run(editorId, 10);
    willStart(editorId);
    ASSERT_TRUE(service->applicationIsProtected());
    typePassword(QStringLiteral("Secret 1"));
    EXPECT_FALSE(service->applicationIsProtected());
}

TEST_F(CentralServiceTest, ARefusedRecordOfTheLockIsWrittenAgainOnTheNextChange) {
    install(editorId, QStringLiteral("Editor"), true);
    storePassword();
    makeService();
    service->start();
    defaults->refuseWrites = true;
    CaptureStdout();
    run(editorId, 10);
    willStart(editorId);
    EXPECT_NE(GetCapturedStdout().find("Could not record the locked application " +
                                       editorId.toStdString()),
              std::string::npos);
    defaults->refuseWrites = false;
    service->checkScreensChange();
    EXPECT_EQ(cbaal(), editorId);
}

TEST_F(CentralServiceTest, StartWithPasswordMonitorsAndLaunchesCorvaneWithItsMarker) {
    storePassword();
    makeService();
    CaptureStdout();
    service->start();
    EXPECT_EQ(GetCapturedStdout(), "Monitoring services started\n");
    ASSERT_EQ(corvaneLaunches(), 1u);
    EXPECT_EQ(workspace->launches[0].configuration,
              (QMap<QString, QString>{{QStringLiteral("StartFromMaster"), QStringLiteral("1")}}));
    EXPECT_TRUE(service->applicationsMonitorService().onApplicationWillStart);
}

TEST_F(CentralServiceTest, LaterConfigurationChangesReloadWithoutStartingAgain) {
    storePassword();
    makeService();
    service->start();
    install(mailId, QStringLiteral("Mail"), true);
    EXPECT_EQ(corvaneLaunches(), 1u);
    ASSERT_FALSE(service->MONITORED_APPS.empty());
    EXPECT_EQ(service->MONITORED_APPS[0].bundleIdentifier, mailId);
}

TEST_F(CentralServiceTest, AdministrativeSwitchLocksTheToolsThatAreNotListed) {
    install(terminalId, QStringLiteral("Terminal"), false);
    configuration->setLockAdministrativeApplications(true);
    storePassword();
    makeService();
    service->start();
    willStart(terminalId);
    EXPECT_TRUE(service->applicationIsProtected());
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(current().message, QStringLiteral("Terminal is locked"));
}

TEST_F(CentralServiceTest, AdministrativeSwitchOffLeavesTheToolsAlone) {
    install(terminalId, QStringLiteral("Terminal"), false);
    configuration->setLockAdministrativeApplications(false);
    storePassword();
    makeService();
    service->start();
    willStart(terminalId);
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_TRUE(windows.empty());
}

TEST_F(CentralServiceTest, RestartLocksTheStoredApplicationWhenItRuns) {
    install(editorId, QStringLiteral("Editor"), true);
    storePassword();
    run(editorId, 10);
    defaults->values.insert(QStringLiteral("cbaal"), editorId);
    makeService();
    service->start();
    EXPECT_TRUE(service->applicationIsProtected());
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
}

TEST_F(CentralServiceTest, RestartLocksTheStoredApplicationEvenWithProtectionOffAndUnlisted) {
    install(editorId, QStringLiteral("Editor"), false);
    storePassword();
    configuration->setApplicationIsActive(false);
    run(editorId, 10);
    defaults->values.insert(QStringLiteral("cbaal"), editorId);
    makeService();
    service->start();
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(cbaal(), editorId);
}

TEST_F(CentralServiceTest, RestartKeepsTheStoredIdentifierWhenTheApplicationIsNotRunning) {
    install(editorId, QStringLiteral("Editor"), true);
    storePassword();
    defaults->values.insert(QStringLiteral("cbaal"), editorId);
    makeService();
    service->start();
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_TRUE(windows.empty());
    EXPECT_EQ(cbaal(), editorId);
}

TEST_F(CentralServiceTest, RestoredLockOfAnUnlistedApplicationEndsWithIt) {
    install(editorId, QStringLiteral("Editor"), false);
    storePassword();
    run(editorId, 10);
    defaults->values.insert(QStringLiteral("cbaal"), editorId);
    makeService();
    service->start();
    end(10);
    terminated(editorId);
    EXPECT_FALSE(service->applicationIsProtected());
    EXPECT_FALSE(cbaal());
}

}  // namespace
