// The applications monitor over the workspace double: the two channels, the policy filter, the
// first element only, Corvane's end before its termination, unset callbacks and stopService.
#include <gtest/gtest.h>

#include "locking/ApplicationsMonitorService.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"

namespace {

using platform::ActivationPolicy;
using platform::RunningApplication;
using platform::WorkspaceNotification;
using platform::testing::FakeWorkspace;

RunningApplication application(pid_t pid, const QString& identifier,
                               ActivationPolicy policy = ActivationPolicy::regular) {
    RunningApplication running;
    running.processIdentifier = pid;
    running.bundleIdentifier = identifier;
    running.localizedName = identifier + QStringLiteral(" name");
    running.activationPolicy = policy;
    return running;
}

class ApplicationsMonitorServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        auto fake = std::make_unique<FakeWorkspace>();
        workspace = fake.get();
        platform::Workspace::install(std::move(fake));
        monitor = std::make_unique<ApplicationsMonitorService>();
        monitor->onApplicationWillStart = [this](const ApplicationEntity& entity) {
            events.append("will " + entity.bundleIdentifier);
        };
        monitor->onApplicationDidStart = [this](const ApplicationEntity& entity) {
            events.append("did " + entity.bundleIdentifier);
        };
        monitor->onApplicationTerminated = [this](const ApplicationEntity& entity) {
            events.append("end " + entity.bundleIdentifier);
        };
        monitor->onHelperTerminated = [this] { events.append("helper end"); };
    }
    void TearDown() override {
        monitor.reset();
        platform::Workspace::install(nullptr);
    }

    void postLaunch(WorkspaceNotification name, std::optional<std::int64_t> pid) {
        workspace->post(name, {pid, std::nullopt});
    }

    FakeWorkspace* workspace = nullptr;
    std::unique_ptr<ApplicationsMonitorService> monitor;
    QStringList events;
};

using LaunchNotifications = ApplicationsMonitorServiceTest;
using RunningListChannel = ApplicationsMonitorServiceTest;
using MonitorLifecycle = ApplicationsMonitorServiceTest;

TEST_F(LaunchNotifications, WillAndDidLaunchReportTheRunningApplication) {
    workspace->running = {application(100, "org.editor")};
    monitor->startService();

    postLaunch(WorkspaceNotification::willLaunchApplication, 100);
    postLaunch(WorkspaceNotification::didLaunchApplication, 100);

    EXPECT_EQ(events, QStringList({"will org.editor", "did org.editor"}));
}

TEST_F(LaunchNotifications, EntityCarriesNameAndIdentifier) {
    workspace->running = {application(100, "org.editor")};
    std::optional<ApplicationEntity> reported;
    monitor->onApplicationWillStart = [&](const ApplicationEntity& entity) { reported = entity; };
    monitor->startService();

    postLaunch(WorkspaceNotification::willLaunchApplication, 100);

    ASSERT_TRUE(reported);
    EXPECT_EQ(reported->name, "org.editor name");
    EXPECT_EQ(reported->bundleIdentifier, "org.editor");
}

TEST_F(LaunchNotifications, ProcessAlreadyGoneRaisesNothing) {
    monitor->startService();

    postLaunch(WorkspaceNotification::willLaunchApplication, 100);

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(LaunchNotifications, MissingProcessIdentifierRaisesNothing) {
    workspace->running = {application(100, "org.editor")};
    monitor->startService();

    postLaunch(WorkspaceNotification::didLaunchApplication, std::nullopt);

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(LaunchNotifications, IdentifierBeyondProcessIdsIsNotTruncatedIntoAnother) {
    workspace->running = {application(100, "org.editor")};
    monitor->startService();

    postLaunch(WorkspaceNotification::willLaunchApplication, (std::int64_t{1} << 32) + 100);
    postLaunch(WorkspaceNotification::willLaunchApplication, -1);

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(LaunchNotifications, TerminationReportsTheCarriedApplication) {
    monitor->startService();

    workspace->post(WorkspaceNotification::didTerminateApplication,
                    {100, application(100, "org.editor")});

    EXPECT_EQ(events, QStringList({"end org.editor"}));
}

TEST_F(LaunchNotifications, TerminationWithoutApplicationRaisesNothing) {
    monitor->startService();

    workspace->post(WorkspaceNotification::didTerminateApplication, {100, std::nullopt});

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(RunningListChannel, AccessoryAppearingRaisesWillThenDid) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{application(7, "org.agent", ActivationPolicy::accessory)}, {}});

    EXPECT_EQ(events, QStringList({"will org.agent", "did org.agent"}));
}

TEST_F(RunningListChannel, BackgroundOnlyAppearingIsReported) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{application(7, "org.daemon", ActivationPolicy::prohibited)}, {}});

    EXPECT_EQ(events, QStringList({"will org.daemon", "did org.daemon"}));
}

TEST_F(RunningListChannel, RegularApplicationsAreLeftToTheNotifications) {
    monitor->startService();

    workspace->changeRunningApplications({{application(7, "org.editor")}, {}});
    workspace->changeRunningApplications({{}, {application(7, "org.editor")}});

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(RunningListChannel, OnlyTheFirstOfSeveralNewApplicationsIsReported) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{application(7, "org.first", ActivationPolicy::accessory),
          application(8, "org.second", ActivationPolicy::accessory)},
         {}});

    EXPECT_EQ(events, QStringList({"will org.first", "did org.first"}));
}

TEST_F(RunningListChannel, OnlyTheFirstOfSeveralEndedApplicationsIsReported) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{},
         {application(7, "org.first", ActivationPolicy::accessory),
          application(8, "org.second", ActivationPolicy::accessory)}});

    EXPECT_EQ(events, QStringList({"end org.first"}));
}

TEST_F(RunningListChannel, FilteredFirstElementHidesTheOthers) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{application(7, "org.editor"), application(8, "org.agent", ActivationPolicy::accessory)},
         {}});

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(RunningListChannel, CorvaneEndingRaisesHelperTerminatedFirst) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{}, {application(9, "org.vaultine.Corvane", ActivationPolicy::prohibited)}});

    EXPECT_EQ(events, QStringList({"helper end", "end org.vaultine.Corvane"}));
}

TEST_F(RunningListChannel, HelperComparisonIsCaseSensitive) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{}, {application(9, "org.vaultine.corvane", ActivationPolicy::prohibited)}});

    EXPECT_EQ(events, QStringList({"end org.vaultine.corvane"}));
}

TEST_F(RunningListChannel, NewEntriesAreReportedBeforeEndedOnes) {
    monitor->startService();

    workspace->changeRunningApplications(
        {{application(7, "org.new", ActivationPolicy::accessory)},
         {application(8, "org.old", ActivationPolicy::accessory)}});

    EXPECT_EQ(events, QStringList({"will org.new", "did org.new", "end org.old"}));
}

TEST_F(RunningListChannel, OtherKeyPathRaisesNothing) {
    monitor->observeValueForKeyPath(
        "frontmostApplication", {{application(7, "org.agent", ActivationPolicy::accessory)}, {}});

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(MonitorLifecycle, NothingIsReportedBeforeStart) {
    workspace->running = {application(100, "org.editor")};

    postLaunch(WorkspaceNotification::willLaunchApplication, 100);

    EXPECT_TRUE(events.isEmpty());
}

TEST_F(MonitorLifecycle, UnsetCallbackIsSkippedAndOthersStillFire) {
    workspace->running = {application(100, "org.editor")};
    monitor->onApplicationWillStart = nullptr;
    monitor->onHelperTerminated = nullptr;
    monitor->startService();

    postLaunch(WorkspaceNotification::willLaunchApplication, 100);
    postLaunch(WorkspaceNotification::didLaunchApplication, 100);
    workspace->changeRunningApplications(
        {{}, {application(9, "org.vaultine.Corvane", ActivationPolicy::prohibited)}});

    EXPECT_EQ(events, QStringList({"did org.editor", "end org.vaultine.Corvane"}));
}

TEST_F(MonitorLifecycle, NoCallbackAfterStopService) {
    workspace->running = {application(100, "org.editor")};
    monitor->startService();

    monitor->stopService();
    postLaunch(WorkspaceNotification::willLaunchApplication, 100);
    workspace->changeRunningApplications(
        {{application(7, "org.agent", ActivationPolicy::accessory)}, {}});

    EXPECT_TRUE(events.isEmpty());
    EXPECT_EQ(workspace->observerCount(), 0u);
}

TEST_F(MonitorLifecycle, StartAfterStopReportsAgain) {
    workspace->running = {application(100, "org.editor")};
    monitor->startService();
    monitor->stopService();

    monitor->startService();
    postLaunch(WorkspaceNotification::willLaunchApplication, 100);

    EXPECT_EQ(events, QStringList({"will org.editor"}));
}

TEST_F(MonitorLifecycle, DestroyingTheMonitorRemovesItsRegistrations) {
    monitor->startService();

    monitor.reset();
    workspace->changeRunningApplications(
        {{application(7, "org.agent", ActivationPolicy::accessory)}, {}});

    EXPECT_EQ(workspace->observerCount(), 0u);
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(MonitorLifecycle, ReassignedCallbackTakesEffectForTheNextEvent) {
    workspace->running = {application(100, "org.editor")};
    monitor->startService();
    monitor->onApplicationWillStart = [this](const ApplicationEntity&) {
        events.append("first");
        monitor->onApplicationWillStart = [this](const ApplicationEntity&) {
            events.append("second");
        };
    };

    postLaunch(WorkspaceNotification::willLaunchApplication, 100);
    postLaunch(WorkspaceNotification::willLaunchApplication, 100);

    EXPECT_EQ(events, QStringList({"first", "second"}));
}

}  // namespace
