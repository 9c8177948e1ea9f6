// The Linux workspace with real processes: launches reported through the applications monitor,
// forking programs as one instance, GIO's launch variables, bundle launches, and window events in
// the private desktop session.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <set>

#include "ScopedEnvironment.h"
#include "locking/ApplicationsMonitorService.h"
#include "platform/linux/ElfBuildId.h"
#include "platform/linux/EwmhWindows.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/ProcReader.h"
#include "platform/testing/Doubles.h"

namespace {

using platform::WorkspaceNotification;

// Generous: the tests run under the sanitizers on a shared machine. They wait for events, never
// for time to pass, except to show that nothing more arrives.
constexpr int eventTimeoutMs = 10000;

QString testApplicationPath() {
    return QFileInfo(QStringLiteral(VAULTINE_BUNDLE_PATH)).path() +
           QStringLiteral("/tests/platform/helpers/workspace-test-application");
}

std::vector<pid_t> processesRunning(const QString& executable) {
    std::vector<pid_t> found;
    for (const pid_t pid : platform::proc::listProcesses()) {
        if (platform::proc::readExecutable(pid) == executable)
            found.push_back(pid);
    }
    return found;
}

class WorkspaceProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        environment.set("XDG_DATA_HOME", QFile::encodeName(root.filePath("user")));
        environment.set("XDG_DATA_DIRS", QFile::encodeName(root.filePath("system")));
        QDir().mkpath(root.filePath("user/applications"));
        QDir().mkpath(root.filePath("bin"));
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
    }
    void TearDown() override {
        monitor.reset();
        for (const QString& program : programs) {
            for (const pid_t pid : processesRunning(program))
                ::kill(pid, SIGKILL);
        }
        processes.clear();
        platform::Workspace::install(nullptr);
    }

    // Installs `source` as a program of its own with a desktop entry named `identifier`.
    QString installProgram(const QString& source, const QString& identifier,
                           const QByteArray& extra = {}) {
        const QString program = root.filePath("bin/" + identifier);
        EXPECT_TRUE(QFile::copy(source, program));
        // Each application's program has a build-id and bytes of its own: a copy of a program is
        // taken for that program. Neither the build-id nor an added tail changes what it does.
        QFile tail(program);
        EXPECT_TRUE(tail.open(QIODevice::ReadWrite));
        if (const auto buildId = platform::elf::readBuildId(program)) {
            tail.seek(qint64(buildId->offset));
            tail.write(QCryptographicHash::hash(identifier.toUtf8(), QCryptographicHash::Sha256)
                           .left(buildId->bytes.size()));
        }
        tail.seek(tail.size());
        tail.write(identifier.toUtf8());
        tail.close();
        QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile entry(root.filePath("user/applications/" + identifier + ".desktop"));
        EXPECT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=" + identifier.toUtf8() +
                    "\nExec=" + QFile::encodeName(program) + "\n" + extra);
        programs.append(program);
        return program;
    }

    platform::LinuxWorkspace& workspace() {
        if (!created) {
            auto real = std::make_unique<platform::LinuxWorkspace>();
            created = real.get();
            platform::Workspace::install(std::move(real));
        }
        return *created;
    }

    // Records the monitor's reports about one identifier.
    void monitorApplication(const QString& identifier) {
        workspace();
        monitor = std::make_unique<ApplicationsMonitorService>();
        const auto record = [this, identifier](const char* what) {
            return [this, identifier, what](const ApplicationEntity& entity) {
                if (entity.bundleIdentifier == identifier)
                    events.append(QLatin1String(what));
            };
        };
        monitor->onApplicationWillStart = record("will");
        monitor->onApplicationDidStart = record("did");
        monitor->onApplicationTerminated = record("end");
        // Its ends are followed at once, as a locked application's are.
        monitor->needsPromptEndReport = [identifier](const ApplicationEntity& entity) {
            return entity.bundleIdentifier == identifier;
        };
        monitor->startService();
    }

    QProcess& start(const QString& program, const QStringList& arguments = {}) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(program, arguments);
        EXPECT_TRUE(processes.back()->waitForStarted());
        return *processes.back();
    }

    bool waitForEvents(const QStringList& expected) {
        return QTest::qWaitFor([&] { return events == expected; }, eventTimeoutMs);
    }

    QTemporaryDir root;
    ScopedEnvironment environment;
    QStringList programs;
    platform::LinuxWorkspace* created = nullptr;
    std::unique_ptr<ApplicationsMonitorService> monitor;
    std::vector<std::unique_ptr<QProcess>> processes;
    QStringList events;
};

using LaunchDetection = WorkspaceProcessTest;
using InstanceGrouping = WorkspaceProcessTest;
using BundleLaunch = WorkspaceProcessTest;
using WindowEvents = WorkspaceProcessTest;

TEST_F(LaunchDetection, LaunchedApplicationIsReportedWillThenDidOnceAndItsEndOnce) {
    const QString program = installProgram("/bin/sleep", "org.test.Sleeper");
    monitorApplication("org.test.Sleeper");

    QProcess& process = start(program, {"60"});
    ASSERT_TRUE(waitForEvents({"will", "did"})) << events.join(' ').toStdString();
    process.kill();
    process.waitForFinished();
    ASSERT_TRUE(waitForEvents({"will", "did", "end"})) << events.join(' ').toStdString();
    // Long enough for a duplicate did-launch (1 s fallback) or a second end to show up.
    QTest::qWait(1500);

    EXPECT_EQ(events, QStringList({"will", "did", "end"}));
}

TEST_F(LaunchDetection, RunningApplicationDescribesTheEntry) {
    const QString program = installProgram("/bin/sleep", "org.test.Described");
    workspace();

    const pid_t pid = static_cast<pid_t>(start(program, {"60"}).processId());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return workspace().runningApplicationWithProcessIdentifier(pid).has_value(); },
        eventTimeoutMs));
    const platform::RunningApplication application =
        *workspace().runningApplicationWithProcessIdentifier(pid);

    EXPECT_EQ(application.bundleIdentifier, "org.test.Described");
    EXPECT_EQ(application.localizedName, "org.test.Described");
    EXPECT_EQ(application.executablePath, program);
    EXPECT_EQ(application.bundlePath,
              root.filePath("user/applications/org.test.Described.desktop"));
    EXPECT_EQ(application.activationPolicy, platform::ActivationPolicy::regular);
}

TEST_F(LaunchDetection, NoDisplayEntryIsAnAccessoryReportedThroughTheRunningList) {
    const QString program = installProgram("/bin/sleep", "org.test.Agent", "NoDisplay=true\n");
    monitorApplication("org.test.Agent");

    start(program, {"60"});

    ASSERT_TRUE(waitForEvents({"will", "did"})) << events.join(' ').toStdString();
    EXPECT_EQ(workspace()
                  .runningApplicationsWithBundleIdentifier("org.test.Agent")
                  .at(0)
                  .activationPolicy,
              platform::ActivationPolicy::accessory);
}

TEST_F(LaunchDetection, ProcessOfNoApplicationIsNotRunningApplication) {
    installProgram("/bin/sleep", "org.test.Installed");
    workspace();

    const pid_t pid = static_cast<pid_t>(start("/bin/sleep", {"60"}).processId());
    QTest::qWait(300);

    EXPECT_FALSE(workspace().runningApplicationWithProcessIdentifier(pid));
}

TEST_F(LaunchDetection, GioLaunchVariablesMatchAProgramThatExecsAnother) {
    installProgram("/bin/true", "org.test.Wrapped");
    const QString entry = root.filePath("user/applications/org.test.Wrapped.desktop");
    monitorApplication("org.test.Wrapped");

    // The wrapper replaces itself with a program no entry names; GIO's variables still tell.
    start("/bin/sh", {"-c", "exec env GIO_LAUNCHED_DESKTOP_FILE=" + entry +
                                " GIO_LAUNCHED_DESKTOP_FILE_PID=$$ /bin/sleep 60"});

    EXPECT_TRUE(waitForEvents({"will", "did"})) << events.join(' ').toStdString();
}

TEST_F(InstanceGrouping, ForkingApplicationIsOneInstanceReportedOnce) {
    const QString program = installProgram("/bin/sh", "org.test.Forker");
    monitorApplication("org.test.Forker");

    start(program, {"-c", "(while :; do sleep 1; done) & (while :; do sleep 1; done) & wait"});
    ASSERT_TRUE(waitForEvents({"will", "did"})) << events.join(' ').toStdString();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return processesRunning(program).size() == 3; }, eventTimeoutMs));
    QTest::qWait(500);

    EXPECT_EQ(workspace().runningApplicationsWithBundleIdentifier("org.test.Forker").size(), 1u);
    EXPECT_EQ(events, QStringList({"will", "did"}));
}

TEST_F(InstanceGrouping, InstanceLastsWhileAnyOfItsProcessesRuns) {
    const QString program = installProgram("/bin/sh", "org.test.Survivor");
    monitorApplication("org.test.Survivor");
    QProcess& parent =
        start(program, {"-c", "(while :; do sleep 1; done) & (while :; do sleep 1; done) & wait"});
    ASSERT_TRUE(waitForEvents({"will", "did"}));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return processesRunning(program).size() == 3; }, eventTimeoutMs));
    QTest::qWait(300);

    parent.kill();
    parent.waitForFinished();
    QTest::qWait(500);
    EXPECT_EQ(events, QStringList({"will", "did"}));
    for (const pid_t pid : processesRunning(program))
        ::kill(pid, SIGKILL);

    EXPECT_TRUE(waitForEvents({"will", "did", "end"})) << events.join(' ').toStdString();
}

// A private entry can name a common program, which makes each of its runs an instance: those
// instances, unlocked, cost no descriptor each.
TEST_F(InstanceGrouping, DescriptorsDoNotGrowWithTheRunsOfUnlockedApplications) {
    const QString program = installProgram("/bin/sleep", "org.test.Common");
    monitorApplication("org.test.Locked");
    const auto openDescriptors = [] {
        return QDir("/proc/self/fd").entryList(QDir::System).size();
    };
    workspace().runningApplications();
    const qsizetype before = openDescriptors();

    start("/bin/sh", {"-c", "for i in $(seq 40); do \"$0\" 60 & done; wait", program});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return workspace().runningApplicationsWithBundleIdentifier("org.test.Common").size() ==
                   40;
        },
        eventTimeoutMs));

    EXPECT_LT(openDescriptors() - before, 8);
}

// A shell on a pseudo-terminal that an application holds (an editor's terminal tab) makes that
// application a terminal while the shell runs.
TEST_F(InstanceGrouping, AShellOnATerminalAnApplicationHoldsClaimsItAsATerminalWhileItRuns) {
    const QString program = installProgram("/usr/bin/script", "org.test.Editor");
    monitorApplication("org.test.Editor");
    environment.set("SHELL", "/bin/sh");
    start(program, {"-q", "-c", "/bin/sh -i", "/dev/null"});
    const auto claimed = [this] {
        const auto runs = workspace().runningApplicationsWithBundleIdentifier("org.test.Editor");
        return runs.size() == 1 &&
               runs[0].isClaimedBy(platform::RunningApplication::EMBEDDED_TERMINAL_IDENTIFIER);
    };
    EXPECT_TRUE(QTest::qWaitFor(claimed, eventTimeoutMs));
    EXPECT_TRUE(events.contains("will"));
}

TEST_F(InstanceGrouping, TwoSeparateLaunchesAreTwoInstances) {
    const QString program = installProgram("/bin/sleep", "org.test.Twice");
    workspace();

    start(program, {"60"});
    start(program, {"60"});

    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return workspace().runningApplicationsWithBundleIdentifier("org.test.Twice").size() ==
                   2;
        },
        eventTimeoutMs));
}

class BundleLaunchTest : public WorkspaceProcessTest {
  protected:
    // A background-only bundle whose launcher script execs the real program inside the bundle.
    QString makeBundle() {
        const QString bundle = root.filePath("Agent.app");
        QDir().mkpath(bundle + "/Contents/bin");
        QFile info(bundle + "/Contents/Info.json");
        EXPECT_TRUE(info.open(QIODevice::WriteOnly));
        info.write(R"({"CFBundleIdentifier": "org.test.Agent", "CFBundleName": "Agent",
                       "CFBundleExecutable": "agent", "LSBackgroundOnly": true})");
        real = bundle + "/Contents/bin/agent-real";
        EXPECT_TRUE(QFile::copy("/bin/sleep", real));
        QFile::setPermissions(real, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile launcher(bundle + "/Contents/bin/agent");
        EXPECT_TRUE(launcher.open(QIODevice::WriteOnly));
        launcher.write("#!/bin/sh\nexec \"$(dirname \"$0\")/agent-real\" 60\n");
        launcher.close();
        QFile::setPermissions(launcher.fileName(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        programs.append(real);
        return bundle;
    }
    QString real;
};

TEST_F(BundleLaunchTest, LaunchStartsTheBundleDetachedWithTheConfiguration) {
    const QString bundle = makeBundle();
    std::vector<platform::RunningApplication> added;
    workspace().observeRunningApplications([&](const platform::RunningApplicationsChange& change) {
        added.insert(added.end(), change.added.begin(), change.added.end());
    });

    ASSERT_TRUE(workspace().launchApplication(bundle, {{"StartFromMaster", "1"}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !added.empty(); }, eventTimeoutMs));
    const pid_t pid = added[0].processIdentifier;

    EXPECT_EQ(added[0].bundleIdentifier, "org.test.Agent");
    EXPECT_EQ(added[0].activationPolicy, platform::ActivationPolicy::prohibited);
    EXPECT_EQ(added[0].bundlePath, bundle);
    EXPECT_EQ(platform::proc::readEnvironmentValue(pid, "VAULTINE_LAUNCH_StartFromMaster"),
              QByteArray("1"));
    EXPECT_NE(::getsid(pid), ::getsid(0));
}

TEST_F(BundleLaunchTest, LaunchArgumentIsTheProcessSerialNumber) {
    const QString bundle = makeBundle();
    // The launcher records its arguments before it execs the program.
    QFile launcher(bundle + "/Contents/bin/agent");
    ASSERT_TRUE(launcher.open(QIODevice::WriteOnly | QIODevice::Truncate));
    launcher.write(
        "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/arguments\"\n"
        "exec \"$(dirname \"$0\")/agent-real\" 60\n");
    launcher.close();
    workspace();

    ASSERT_TRUE(workspace().launchApplication(bundle, {}));

    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(bundle + "/Contents/bin/arguments"); },
                                eventTimeoutMs));
    QFile arguments(bundle + "/Contents/bin/arguments");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            arguments.open(QIODevice::ReadOnly);
            const bool written = arguments.size() > 0;
            arguments.close();
            return written;
        },
        eventTimeoutMs));
    arguments.open(QIODevice::ReadOnly);
    EXPECT_TRUE(arguments.readAll().startsWith("-psn_0_"));
}

TEST_F(BundleLaunchTest, SecondLaunchWhileRunningStartsNothing) {
    const QString bundle = makeBundle();
    ASSERT_TRUE(workspace().launchApplication(bundle, {}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !workspace().runningApplicationsWithBundleIdentifier("org.test.Agent").empty();
        },
        eventTimeoutMs));

    EXPECT_TRUE(workspace().launchApplication(bundle, {}));
    QTest::qWait(500);

    EXPECT_EQ(processesRunning(real).size(), 1u);
}

TEST_F(BundleLaunchTest, UnreadableBundleIsNotLaunched) {
    EXPECT_FALSE(workspace().launchApplication(root.filePath("Missing.app"), {}));
}

QProcessEnvironment environmentOf(const QStringList& entries) {
    QProcessEnvironment environment;
    for (const QString& entry : entries)
        environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
    return environment;
}

TEST(LaunchEnvironment, ConfigurationEntriesBecomeLaunchVariables) {
    const QProcessEnvironment result =
        platform::launchEnvironment(environmentOf({"HOME=/home/ada", "PATH=/bin"}),
                                    {{"StartFromMaster", "1"}, {"Other_2", "a=b"}});

    EXPECT_EQ(result.value("VAULTINE_LAUNCH_StartFromMaster"), "1");
    EXPECT_EQ(result.value("VAULTINE_LAUNCH_Other_2"), "a=b");
    EXPECT_EQ(result.value("HOME"), "/home/ada");
    EXPECT_EQ(result.value("PATH"), "/bin");
}

TEST(LaunchEnvironment, OwnLaunchVariablesAreNotHandedOn) {
    const QProcessEnvironment result = platform::launchEnvironment(
        environmentOf({"VAULTINE_LAUNCH_RestartedFromHelper=1", "DESKTOP_STARTUP_ID=ob-1",
                       "GIO_LAUNCHED_DESKTOP_FILE=/x.desktop", "GIO_LAUNCHED_DESKTOP_FILE_PID=7",
                       "LANG=C"}),
        {{"StartFromMaster", "1"}});

    EXPECT_EQ(result.keys().size(), 2);
    EXPECT_EQ(result.value("LANG"), "C");
    EXPECT_EQ(result.value("VAULTINE_LAUNCH_StartFromMaster"), "1");
}

TEST(LaunchEnvironment, KeysThatAreNoVariableNamesAreLeftOut) {
    const QProcessEnvironment result = platform::launchEnvironment(
        {}, {{"", "1"}, {"A=B", "1"}, {"with space", "1"}, {"caf\u00e9", "1"}, {"Ok", "1"}});

    EXPECT_EQ(result.keys(), QStringList({"VAULTINE_LAUNCH_Ok"}));
}

TEST(LaunchEnvironment, ValueHoldingNulIsLeftOutRatherThanCut) {
    const QProcessEnvironment result = platform::launchEnvironment(
        {}, {{"Cut", QStringLiteral("before") + QChar(0) + QStringLiteral("after")}});

    EXPECT_FALSE(result.contains("VAULTINE_LAUNCH_Cut"));
}

class WindowEventsTest : public WorkspaceProcessTest {
  protected:
    void SetUp() override {
        WorkspaceProcessTest::SetUp();
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the private desktop session's X server";
        if (!QFileInfo(testApplicationPath()).isExecutable())
            GTEST_SKIP() << "the workspace-test-application helper is not built";
    }
};

TEST_F(WindowEventsTest, DidLaunchFollowsTheFirstWindowOnce) {
    const QString program = installProgram(testApplicationPath(), "org.test.Windowed");
    monitorApplication("org.test.Windowed");
    ASSERT_TRUE(workspace().hasWindowEvents());

    QProcess& process = start(program, {"--window"});
    ASSERT_TRUE(waitForEvents({"will", "did"})) << events.join(' ').toStdString();
    QTest::qWait(1500);
    process.kill();
    process.waitForFinished();

    EXPECT_TRUE(waitForEvents({"will", "did", "end"})) << events.join(' ').toStdString();
}

TEST_F(WindowEventsTest, CopyOfAProgramIsKnownByTheClassOfItsWindowEvenWithoutItsPid) {
    installProgram(testApplicationPath(), "org.test.Classy", "StartupWMClass=ClassyWindow\n");
    const QString copy = root.filePath("bin/renamed-copy");
    ASSERT_TRUE(QFile::copy(testApplicationPath(), copy));
    programs.append(copy);
    monitorApplication("org.test.Classy");
    ASSERT_TRUE(workspace().hasWindowEvents());

    // No entry names the copy: only its window, which leaves out _NET_WM_PID, tells what it is.
    start(copy, {"--window", "--class", "ClassyWindow", "--no-pid"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return events.contains("will"); }, eventTimeoutMs))
        << events.join(' ').toStdString();
    EXPECT_EQ(workspace().runningApplicationsWithBundleIdentifier("org.test.Classy").size(), 1u);
}

TEST_F(WindowEventsTest, CopyWhoseOnlyWindowIsEmbeddedIntoAnotherClientsIsKnownByItsClient) {
    installProgram(testApplicationPath(), "org.test.Embedded");
    const QString copy = root.filePath("bin/embedded-copy");
    ASSERT_TRUE(QFile::copy(root.filePath("bin/org.test.Embedded"), copy));
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    programs.append(copy);
    monitorApplication("org.test.Embedded");
    ASSERT_TRUE(workspace().hasWindowEvents());
    // Another client's window, which the copy's window goes into: no window manager lists it.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    const xcb_window_t host = xcb_generate_id(other);
    xcb_create_window(other, XCB_COPY_FROM_PARENT, host, screen->root, 0, 0, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_flush(other);

    start(copy, {"--window", "--no-pid", "--into", QString::number(host)});
    const bool reported = QTest::qWaitFor([&] { return events.contains("will"); }, eventTimeoutMs);
    xcb_disconnect(other);
    EXPECT_TRUE(reported) << events.join(' ').toStdString();
    EXPECT_EQ(workspace().runningApplicationsWithBundleIdentifier("org.test.Embedded").size(), 1u);
}

// Nothing polls the server's client list: a program loading the X library is followed up over the
// next seconds, so a client that connects well after its start, showing only a window embedded
// into another client's, is still reported.
TEST_F(WindowEventsTest, ClientConnectingWellAfterItsStartIsReported) {
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    const xcb_window_t host = xcb_generate_id(other);
    xcb_create_window(other, XCB_COPY_FROM_PARENT, host, screen->root, 0, 0, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_flush(other);
    platform::EwmhWindows windows;
    ASSERT_TRUE(windows.isConnected());
    std::set<pid_t> appeared;
    windows.onClientsAppeared = [&](const std::vector<pid_t>& processes) {
        appeared.insert(processes.begin(), processes.end());
    };

    const QProcess& process = start(
        testApplicationPath(),
        {"--window", "--no-pid", "--into", QString::number(host), "--connect-after-ms", "1500"});
    const auto pid = static_cast<pid_t>(process.processId());
    const bool reported = QTest::qWaitFor([&] { return appeared.count(pid) > 0; }, eventTimeoutMs);
    xcb_disconnect(other);
    EXPECT_TRUE(reported);
}

TEST_F(WindowEventsTest, ActivationBringsTheInstanceForwardAndIsNotified) {
    const QString first = installProgram(testApplicationPath(), "org.test.First");
    const QString second = installProgram(testApplicationPath(), "org.test.Second");
    monitorApplication("org.test.First");
    QStringList activations;
    workspace().addObserver(WorkspaceNotification::didActivateApplication,
                            [&](const platform::WorkspaceNotificationInfo& info) {
                                if (info.application)
                                    activations.append(info.application->bundleIdentifier);
                            });
    start(first, {"--window"});
    ASSERT_TRUE(waitForEvents({"will", "did"}));
    start(second, {"--window"});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return activations.contains("org.test.Second"); }, eventTimeoutMs));
    activations.clear();

    const auto instances = workspace().runningApplicationsWithBundleIdentifier("org.test.First");
    ASSERT_EQ(instances.size(), 1u);
    ASSERT_TRUE(workspace().activate(instances[0]));

    EXPECT_TRUE(QTest::qWaitFor([&] { return activations == QStringList({"org.test.First"}); },
                                eventTimeoutMs))
        << activations.join(' ').toStdString();
}

}  // namespace
