// The Linux workspace's catalogue over real desktop entries in temporary XDG folders: precedence
// and shadowing, link loops, bad entries, folder changes, identifiers and our own bundles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ScopedEnvironment.h"
#include "locking/SystemApplicationsService.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/testing/Doubles.h"

namespace {

// Sets the XDG folders to temporary ones before the workspace is created, as a new session would,
// and gives the workspace those folders alone.
class WorkspaceCatalogueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        environment.set("XDG_DATA_HOME", QFile::encodeName(root.filePath("user")));
        environment.set("XDG_DATA_DIRS", QFile::encodeName(root.filePath("system")));
        QDir().mkpath(userFolder());
        QDir().mkpath(systemFolder());
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
    }
    void TearDown() override { platform::Workspace::install(nullptr); }

    QString userFolder() const { return root.filePath("user/applications"); }
    QString systemFolder() const { return root.filePath("system/applications"); }

    platform::LinuxWorkspace& workspace() {
        if (!created) {
            // The private folders alone: the system's, which a default workspace always reads
            // too, would add this machine's entries to every list.
            auto real = std::make_unique<platform::LinuxWorkspace>(
                QStringList{userFolder(), systemFolder()});
            created = real.get();
            platform::Workspace::install(std::move(real));
        }
        return *created;
    }

    static void write(const QString& path, const QByteArray& contents) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }
    static QByteArray entry(const QByteArray& name, const QByteArray& extra = {}) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/bin/true %U\n" + extra;
    }
    std::vector<ApplicationEntity> listed(const QString& identifier) {
        workspace();
        std::vector<ApplicationEntity> matches;
        for (ApplicationEntity& entity : SystemApplicationsService().lockableApplications()) {
            if (entity.bundleIdentifier == identifier)
                matches.push_back(std::move(entity));
        }
        return matches;
    }

    QTemporaryDir root;
    ScopedEnvironment environment;
    platform::LinuxWorkspace* created = nullptr;
};

using XdgPrecedence = WorkspaceCatalogueTest;
using CatalogueFaults = WorkspaceCatalogueTest;
using CatalogueChanges = WorkspaceCatalogueTest;
using CatalogueEntries = WorkspaceCatalogueTest;

TEST_F(XdgPrecedence, FoldersAreTheUsersFirstAndTheSystemsAlways) {
    const QStringList folders = platform::DesktopEntryCatalogue::xdgApplicationFolders();

    // XDG_DATA_DIRS names only a private folder: the system's are read all the same, after it.
    EXPECT_EQ(folders.mid(0, 2), QStringList({userFolder(), systemFolder()}));
    EXPECT_TRUE(folders.contains("/usr/share/applications"));
    EXPECT_TRUE(folders.contains("/usr/local/share/applications"));
    EXPECT_TRUE(folders.contains("/var/lib/flatpak/exports/share/applications"));
}

TEST_F(XdgPrecedence, EntryShadowedByTheUserDirectoryIsListedOnce) {
    write(userFolder() + "/org.test.Shadow.desktop", entry("User Shadow"));
    write(systemFolder() + "/org.test.Shadow.desktop", entry("System Shadow"));

    const std::vector<ApplicationEntity> matches = listed("org.test.Shadow");

    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].name, "User Shadow");
}

TEST_F(XdgPrecedence, LookupByIdentifierChoosesTheUsersEntry) {
    write(userFolder() + "/org.test.Shadow.desktop", entry("User Shadow"));
    write(systemFolder() + "/org.test.Shadow.desktop", entry("System Shadow"));

    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("org.test.Shadow"),
              userFolder() + "/org.test.Shadow.desktop");
}

TEST_F(XdgPrecedence, ShadowedEntryGivesNoDictionary) {
    write(userFolder() + "/org.test.Shadow.desktop", entry("User Shadow"));
    write(systemFolder() + "/org.test.Shadow.desktop", entry("System Shadow"));

    EXPECT_FALSE(workspace().infoDictionaryForApplicationAtPath(systemFolder() +
                                                                "/org.test.Shadow.desktop"));
}

TEST_F(XdgPrecedence, HiddenUserEntryHidesTheSystemsEntry) {
    write(userFolder() + "/org.test.Removed.desktop", entry("Removed", "Hidden=true\n"));
    write(systemFolder() + "/org.test.Removed.desktop", entry("System Removed"));

    EXPECT_TRUE(listed("org.test.Removed").empty());
    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("org.test.Removed"), "");
}

// Disabled: with a link loop inside a system applications folder the catalogue does not finish
// (seen growing past 1.7 GB in CI-like runs); to be fixed before it is enabled again.
TEST_F(CatalogueFaults, LinkLoopTerminatesAndListsTheEntryOnce) {
    write(systemFolder() + "/org.test.Looped.desktop", entry("Looped"));
    QDir().mkpath(systemFolder() + "/sub");
    ASSERT_TRUE(QFile::link(systemFolder(), systemFolder() + "/sub/back"));
    ASSERT_TRUE(QFile::link(systemFolder(), systemFolder() + "/loop"));

    EXPECT_EQ(listed("org.test.Looped").size(), 1u);
    EXPECT_FALSE(workspace().absolutePathForAppBundleWithIdentifier("org.test.Looped").isEmpty());
}

TEST_F(CatalogueFaults, BadEntriesAreSkippedSilently) {
    write(systemFolder() + "/good.desktop", entry("Good"));
    write(systemFolder() + "/garbage.desktop", QByteArray("\x00\x01\x02[[[=\n\x7f", 10));
    write(systemFolder() + "/latin1.desktop", entry("Caf\xe9"));
    write(systemFolder() + "/huge.desktop",
          entry("Huge") + QByteArray(2 << 20, 'x').replace(0, 1, "#"));
    write(systemFolder() + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=x\n");
    write(systemFolder() + "/nogroup.desktop", "Name=Nothing\nExec=/bin/true\n");
    write(systemFolder() + "/invisible.desktop", entry("Invisible", "NoDisplay=true\n"));
    write(systemFolder() + "/uninstalled.desktop",
          entry("Uninstalled", "TryExec=/nonexistent/program\n"));
    // Permissions do not stop root, so the unreadable entry only exists for other users.
    if (::geteuid() != 0) {
        write(systemFolder() + "/unreadable.desktop", entry("Unreadable"));
        QFile::setPermissions(systemFolder() + "/unreadable.desktop", QFileDevice::Permissions());
    }
    QDir().mkpath(systemFolder() + "/folder.desktop");
    ASSERT_TRUE(QFile::link(root.filePath("nowhere"), systemFolder() + "/dangling.desktop"));
    workspace();

    QStringList identifiers;
    for (const ApplicationEntity& entity : SystemApplicationsService().lockableApplications())
        identifiers.append(entity.bundleIdentifier);

    EXPECT_EQ(identifiers, QStringList({"good"}));
}

TEST_F(CatalogueChanges, EntryAddedLaterIsListed) {
    EXPECT_TRUE(listed("org.test.Later").empty());

    write(systemFolder() + "/org.test.Later.desktop", entry("Later"));

    EXPECT_EQ(listed("org.test.Later").size(), 1u);
    EXPECT_FALSE(workspace().absolutePathForAppBundleWithIdentifier("org.test.Later").isEmpty());
}

TEST_F(CatalogueChanges, UserFolderCreatedLaterShadowsTheSystem) {
    QDir(userFolder()).removeRecursively();
    write(systemFolder() + "/org.test.Moved.desktop", entry("System Moved"));
    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("org.test.Moved"),
              systemFolder() + "/org.test.Moved.desktop");

    write(userFolder() + "/org.test.Moved.desktop", entry("User Moved"));

    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("org.test.Moved"),
              userFolder() + "/org.test.Moved.desktop");
}

TEST_F(CatalogueChanges, RemovedEntryIsNoLongerKnown) {
    write(systemFolder() + "/org.test.Gone.desktop", entry("Gone"));
    EXPECT_EQ(listed("org.test.Gone").size(), 1u);

    QFile::remove(systemFolder() + "/org.test.Gone.desktop");

    EXPECT_TRUE(listed("org.test.Gone").empty());
    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("org.test.Gone"), "");
}

TEST_F(CatalogueEntries, EntryInASubfolderHasThePrefixedIdentifier) {
    write(systemFolder() + "/vendor/tool.desktop", entry("Tool"));

    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("vendor-tool"),
              systemFolder() + "/vendor/tool.desktop");
    ASSERT_EQ(listed("vendor-tool").size(), 1u);
}

TEST_F(CatalogueEntries, DictionaryHasNameAndExecutableFileName) {
    write(systemFolder() + "/org.test.Named.desktop", entry("Named"));

    const auto info =
        workspace().infoDictionaryForApplicationAtPath(systemFolder() + "/org.test.Named.desktop");

    ASSERT_TRUE(info);
    EXPECT_EQ(info->identifier, "org.test.Named");
    EXPECT_EQ(info->name, "Named");
    EXPECT_EQ(info->executable, "true");
}

TEST_F(CatalogueEntries, NameIsLocalized) {
    const ScopedEnvironment german("LANGUAGE", "de");
    write(systemFolder() + "/org.test.Tool.desktop", entry("Tool", "Name[de]=Werkzeug\n"));

    const auto info =
        workspace().infoDictionaryForApplicationAtPath(systemFolder() + "/org.test.Tool.desktop");

    ASSERT_TRUE(info);
    EXPECT_EQ(info->name, "Werkzeug");
}

TEST_F(CatalogueEntries, OwnBundleIsReadFromItsInformationDictionary) {
    write(root.filePath("Thing.app/Contents/Info.json"),
          R"({"CFBundleIdentifier": "org.test.Thing", "CFBundleName": "Thing",
              "CFBundleExecutable": "thing", "LSBackgroundOnly": true})");

    const auto info = workspace().infoDictionaryForApplicationAtPath(root.filePath("Thing.app"));

    ASSERT_TRUE(info);
    EXPECT_EQ(info->identifier, "org.test.Thing");
    EXPECT_TRUE(info->backgroundOnly);
}

TEST_F(CatalogueEntries, OwnHelperBundleIsFoundByIdentifier) {
    const QString main = root.filePath("Main.app");
    write(main + "/Contents/Info.json", R"({"CFBundleIdentifier": "org.vaultine.Vaultine"})");
    write(main + "/Contents/Library/LoginItems/Corvane.app/Contents/Info.json",
          R"({"CFBundleIdentifier": "org.vaultine.Corvane", "CFBundleName": "Corvane"})");
    platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"), main);

    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("org.vaultine.Corvane"),
              main + "/Contents/Library/LoginItems/Corvane.app");
    const auto corvane = ApplicationEntity::fromBundleIdentifier("org.vaultine.Corvane");
    ASSERT_TRUE(corvane);
    EXPECT_EQ(corvane->name, "Corvane");
}

}  // namespace
