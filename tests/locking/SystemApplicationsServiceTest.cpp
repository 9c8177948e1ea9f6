// The application catalogue over the workspace double: sort orders, the white and banned lists,
// the system-path rule, the folder scan with its shadowing and link-loop guards, and the start of
// Corvane.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "locking/SystemApplicationsService.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"

namespace {

using platform::ActivationPolicy;
using platform::RunningApplication;
using platform::testing::FakeWorkspace;

QStringList namesOf(const std::vector<ApplicationEntity>& entities) {
    QStringList names;
    for (const ApplicationEntity& entity : entities)
        names.append(entity.name);
    return names;
}

QStringList identifiersOf(const std::vector<ApplicationEntity>& entities) {
    QStringList identifiers;
    for (const ApplicationEntity& entity : entities)
        identifiers.append(entity.bundleIdentifier);
    return identifiers;
}

RunningApplication running(pid_t pid, const QString& identifier, const QString& name,
                           ActivationPolicy policy = ActivationPolicy::regular,
                           const QString& executable = QStringLiteral("/usr/bin/app")) {
    RunningApplication application;
    application.processIdentifier = pid;
    application.bundleIdentifier = identifier;
    application.localizedName = name;
    application.activationPolicy = policy;
    application.executablePath = executable;
    application.bundlePath = QStringLiteral("/usr/share/applications/") + identifier + ".desktop";
    return application;
}

class SystemApplicationsServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        auto fake = std::make_unique<FakeWorkspace>();
        workspace = fake.get();
        platform::Workspace::install(std::move(fake));
        ASSERT_TRUE(root.isValid());
    }
    void TearDown() override { platform::Workspace::install(nullptr); }

    // Creates an (empty) entry file under the temporary root and gives it a dictionary.
    QString entry(const QString& relativePath, const QString& identifier, const QString& name) {
        const QString path = root.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        workspace->addDictionary(path, {identifier, name, QStringLiteral("exe")});
        return path;
    }
    QString folder(const QString& relativePath) {
        QDir().mkpath(root.filePath(relativePath));
        return root.filePath(relativePath);
    }

    FakeWorkspace* workspace = nullptr;
    QTemporaryDir root;
    SystemApplicationsService service;
};

using CatalogueSorting = SystemApplicationsServiceTest;
using FolderScan = SystemApplicationsServiceTest;
using ScannedLockability = SystemApplicationsServiceTest;
using RunningLockability = SystemApplicationsServiceTest;
using RunningQueries = SystemApplicationsServiceTest;
using AdministrativeApplications = SystemApplicationsServiceTest;
using HelperStart = SystemApplicationsServiceTest;

TEST_F(CatalogueSorting, InstalledApplicationsSortByLowerCasedName) {
    entry("apps/m.desktop", "org.m", "Mail");
    entry("apps/i.desktop", "org.i", "iTool");
    entry("apps/f.desktop", "org.f", "Files");
    workspace->folders = {root.filePath("apps")};

    EXPECT_EQ(namesOf(service.lockableApplications()), QStringList({"Files", "iTool", "Mail"}));
}

TEST_F(CatalogueSorting, RunningApplicationsSortByLowerCasedNameAndAreFiltered) {
    workspace->running = {running(1, "org.m", "Mail"), running(2, "org.i", "iTool"),
                          running(3, "org.bg", "Agent", ActivationPolicy::prohibited),
                          running(4, "org.f", "Files")};

    EXPECT_EQ(namesOf(service.lockableRunningApplications()),
              QStringList({"Files", "iTool", "Mail"}));
}

TEST_F(FolderScan, DescendsIntoFoldersWithoutExtension) {
    entry("apps/Utilities/terminal.desktop", "org.gnome.Terminal", "Terminal");

    EXPECT_EQ(identifiersOf(service.getLockableApplicationsFrom(root.filePath("apps"))),
              QStringList({"org.gnome.Terminal"}));
}

TEST_F(FolderScan, SkipsFoldersWithAnExtension) {
    entry("apps/vendor.d/tool.desktop", "org.tool", "Tool");

    EXPECT_TRUE(service.getLockableApplicationsFrom(root.filePath("apps")).empty());
}

TEST_F(FolderScan, SuffixTestIsCaseSensitive) {
    entry("apps/upper.DESKTOP", "org.upper", "Upper");

    EXPECT_TRUE(service.getLockableApplicationsFrom(root.filePath("apps")).empty());
}

TEST_F(FolderScan, UnreadableFolderGivesNothing) {
    EXPECT_TRUE(service.getLockableApplicationsFrom(root.filePath("absent")).empty());
}

TEST_F(FolderScan, ListsSubfolderResultsWhereTheSubfolderIsMet) {
    entry("apps/a.desktop", "org.a", "A");
    entry("apps/b/inner.desktop", "org.inner", "Inner");
    entry("apps/c.desktop", "org.c", "C");

    EXPECT_EQ(identifiersOf(service.getLockableApplicationsFrom(root.filePath("apps"))),
              QStringList({"org.a", "org.inner", "org.c"}));
}

TEST_F(FolderScan, LinkLoopTerminatesAndListsOnce) {
    entry("apps/a.desktop", "org.a", "A");
    folder("apps/sub");
    ASSERT_TRUE(QFile::link(root.filePath("apps"), root.filePath("apps/sub/loop")));
    ASSERT_TRUE(QFile::link(root.filePath("apps/sub"), root.filePath("apps/self")));

    EXPECT_EQ(identifiersOf(service.getLockableApplicationsFrom(root.filePath("apps"))),
              QStringList({"org.a"}));
}

TEST_F(FolderScan, DeepNestingIsCutOff) {
    QString path = QStringLiteral("apps");
    for (int level = 0; level < 40; ++level)
        path += QStringLiteral("/level");
    entry(path + "/deep.desktop", "org.deep", "Deep");
    entry("apps/shallow.desktop", "org.shallow", "Shallow");

    EXPECT_EQ(identifiersOf(service.getLockableApplicationsFrom(root.filePath("apps"))),
              QStringList({"org.shallow"}));
}

TEST_F(FolderScan, EachIdentifierOnceWithTheFirstFolderWinning) {
    entry("user/editor.desktop", "org.editor", "User Editor");
    entry("system/editor.desktop", "org.editor", "System Editor");
    entry("system/other.desktop", "org.other", "Other");
    workspace->folders = {root.filePath("user"), root.filePath("system")};

    EXPECT_EQ(namesOf(service.lockableApplications()), QStringList({"Other", "User Editor"}));
}

TEST_F(ScannedLockability, BannedApplicationsAreNeverListed) {
    entry("apps/vaultine.desktop", "org.vaultine.Vaultine", "Vaultine");
    entry("apps/corvane.desktop", "org.vaultine.Corvane", "Corvane");
    entry("apps/editor.desktop", "org.editor", "Editor");

    EXPECT_EQ(identifiersOf(service.getLockableApplicationsFrom(root.filePath("apps"))),
              QStringList({"org.editor"}));
}

TEST_F(ScannedLockability, WhiteListedIsLockable) {
    EXPECT_TRUE(service.isLockableApplicationEntity(
        ApplicationEntity(QStringLiteral("Settings"), QStringLiteral("org.gnome.Settings"))));
}

TEST_F(ScannedLockability, JudgedByIdentifierOnly) {
    EXPECT_TRUE(service.isLockableApplicationEntity(
        ApplicationEntity(QString(), QStringLiteral("org.any"))));
    EXPECT_FALSE(service.isLockableApplicationEntity(
        ApplicationEntity(QStringLiteral("Corvane"), QStringLiteral("org.vaultine.Corvane"))));
}

TEST_F(RunningLockability, OrdinaryApplicationIsLockable) {
    EXPECT_TRUE(service.isLockableApplication(running(1, "org.editor", "Editor")));
}

TEST_F(RunningLockability, AccessoryApplicationIsLockable) {
    EXPECT_TRUE(service.isLockableApplication(
        running(1, "org.agent", "Agent", ActivationPolicy::accessory)));
}

TEST_F(RunningLockability, BackgroundOnlyIsNotLockable) {
    EXPECT_FALSE(service.isLockableApplication(
        running(1, "org.daemon", "Daemon", ActivationPolicy::prohibited)));
}

TEST_F(RunningLockability, SystemProgramIsNotLockable) {
    EXPECT_FALSE(service.isLockableApplication(
        running(1, "org.files", "Files", ActivationPolicy::regular, "/usr/libexec/files-helper")));
}

TEST_F(RunningLockability, NeedsNameExecutableAndBundle) {
    RunningApplication nameless = running(1, "org.a", "");
    RunningApplication unlocated = running(2, "org.b", "B");
    unlocated.executablePath.clear();
    RunningApplication unbundled = running(3, "org.c", "C");
    unbundled.bundlePath.clear();

    EXPECT_FALSE(service.isLockableApplication(nameless));
    EXPECT_FALSE(service.isLockableApplication(unlocated));
    EXPECT_FALSE(service.isLockableApplication(unbundled));
}

TEST_F(RunningLockability, BannedIsNotLockable) {
    EXPECT_FALSE(service.isLockableApplication(running(1, "org.vaultine.Vaultine", "Vaultine")));
    EXPECT_FALSE(service.isLockableApplication(
        running(2, "org.vaultine.Corvane", "Corvane", ActivationPolicy::accessory)));
}

TEST_F(RunningLockability, WhiteListedIsLockableWhateverItsPolicyAndLocation) {
    RunningApplication settings =
        running(1, "systemsettings", "", ActivationPolicy::prohibited, "/usr/libexec/settings");
    settings.bundlePath.clear();

    EXPECT_TRUE(service.isLockableApplication(settings));
}

TEST_F(RunningQueries, NotRunningGivesNone) {
    EXPECT_FALSE(service.applicationIsRunning("org.editor"));
}

TEST_F(RunningQueries, TwoInstancesDescribeTheFirst) {
    workspace->running = {running(10, "org.editor", "First"), running(11, "org.editor", "Second")};

    const auto entity = service.applicationIsRunning("org.editor");

    ASSERT_TRUE(entity);
    EXPECT_EQ(entity->name, "First");
}

TEST_F(RunningQueries, RunningListIsUnfiltered) {
    workspace->running = {running(1, "org.a", "A", ActivationPolicy::prohibited),
                          running(2, "org.vaultine.Corvane", "Corvane")};

    EXPECT_EQ(service.runningNSApplications().size(), 2u);
}

TEST_F(RunningQueries, FocusActivatesTheFirstInstance) {
    workspace->running = {running(10, "org.editor", "First"), running(11, "org.editor", "Second")};

    service.focusOnApplication("org.editor");

    EXPECT_EQ(workspace->activations, std::vector<pid_t>({10}));
}

TEST_F(RunningQueries, FocusOnAnAbsentApplicationDoesNothing) {
    workspace->running = {running(10, "org.editor", "Editor")};

    service.focusOnApplication("org.absent");

    EXPECT_TRUE(workspace->activations.empty());
}

TEST_F(AdministrativeApplications, TerminalsThenKeyringManagersThenSystemMonitors) {
    workspace->installApplication("/a/monitor.desktop", {"gnome-system-monitor", "Monitor", ""});
    workspace->installApplication("/a/keys.desktop",
                                  {"org.gnome.seahorse.Application", "Keys", ""});
    workspace->installApplication("/a/xterm.desktop", {"debian-xterm", "XTerm", ""});
    workspace->installApplication("/a/terminal.desktop", {"org.gnome.Terminal", "Terminal", ""});

    EXPECT_EQ(identifiersOf(service.administrativeApplications()),
              QStringList({"org.gnome.Terminal", "debian-xterm", "org.gnome.seahorse.Application",
                           "gnome-system-monitor"}));
}

TEST_F(AdministrativeApplications, NoneInstalledGivesEmptyList) {
    EXPECT_TRUE(service.administrativeApplications().empty());
}

TEST_F(HelperStart, LaunchesCorvaneFromTheMainBundleWithTheStartEntry) {
    service.startHelperApplication();

    ASSERT_EQ(workspace->launches.size(), 1u);
    EXPECT_EQ(workspace->launches[0].bundlePath,
              "/opt/test/Vaultine.app/Contents/Library/LoginItems/Corvane.app");
    EXPECT_EQ(workspace->launches[0].configuration,
              (QMap<QString, QString>{{"StartFromMaster", "1"}}));
}

TEST_F(HelperStart, FailedLaunchIsDropped) {
    workspace->launchSucceeds = false;

    service.startHelperApplication();

    EXPECT_EQ(workspace->launches.size(), 1u);
}

TEST_F(HelperStart, NothingOutsideABundle) {
    platform::testing::installMainBundle(QString(), QString());

    service.startHelperApplication();

    EXPECT_TRUE(workspace->launches.empty());
}

}  // namespace
