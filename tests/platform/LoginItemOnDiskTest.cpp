// The login item on disk: the XDG autostart entry that starts the built Corvane, written and
// removed under a private configuration folder, with the system-wide entry case and refusals.
#include <glib.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "ScopedEnvironment.h"
#include "locking/SystemConfigurationService.h"
#include "platform/linux/XdgAutostartLoginItems.h"
#include "platform/testing/Doubles.h"

namespace {

class LoginItemOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(configHome.isValid());
        environment.set("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
        environment.set("XDG_CONFIG_DIRS", QFile::encodeName(systemConfig.path()));
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"),
                                             QStringLiteral(VAULTINE_BUNDLE_PATH));
        platform::LoginItems::install(std::make_unique<platform::XdgAutostartLoginItems>());
    }
    // The observers a test registers capture its locals: they go with the instance, before the
    // removal of the folders they watch could call them from a later test's event loop.
    void TearDown() override { platform::LoginItems::install(nullptr); }
    QString entryPath() const {
        return configHome.path() + QStringLiteral("/autostart/org.vaultine.Corvane.desktop");
    }
    // The entry's Exec line as a desktop session reads it: key-file unescaped, then split.
    QStringList execArguments() const {
        GKeyFile* keyFile = g_key_file_new();
        QStringList arguments;
        if (g_key_file_load_from_file(keyFile, qPrintable(entryPath()), G_KEY_FILE_NONE, nullptr)) {
            gchar* exec = g_key_file_get_string(keyFile, "Desktop Entry", "Exec", nullptr);
            gint argc = 0;
            gchar** argv = nullptr;
            if (exec && g_shell_parse_argv(exec, &argc, &argv, nullptr)) {
                for (gint i = 0; i < argc; ++i)
                    arguments << QString::fromUtf8(argv[i]);
                g_strfreev(argv);
            }
            g_free(exec);
        }
        g_key_file_free(keyFile);
        return arguments;
    }
    QByteArray entryText() const {
        QFile file(entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeEntry(const QByteArray& text) const {
        QFile::remove(entryPath());
        QFile file(entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    static constexpr int maxPadding = 70 * 1024;  // beyond the largest entry read
    QTemporaryDir configHome;
    QTemporaryDir systemConfig;
    ScopedEnvironment environment;
    SystemConfigurationService service;
};

TEST_F(LoginItemOnDisk, OnWritesAnAutostartEntryStartingTheBundledCorvane) {
    ASSERT_TRUE(service.startAtLogin(true));
    ASSERT_TRUE(QFileInfo::exists(entryPath()));
    const QString corvane =
        QStringLiteral(VAULTINE_BUNDLE_PATH) +
        QStringLiteral("/Contents/Library/LoginItems/Corvane.app/Contents/bin/Corvane");
    EXPECT_EQ(execArguments(), QStringList{corvane});
}

TEST_F(LoginItemOnDisk, OffRemovesTheEntry) {
    ASSERT_TRUE(service.startAtLogin(true));
    EXPECT_TRUE(service.startAtLogin(false));
    EXPECT_FALSE(QFileInfo::exists(entryPath()));
}

TEST_F(LoginItemOnDisk, OffWithoutAnEntryTakesEffectAndWritesNothing) {
    EXPECT_TRUE(service.startAtLogin(false));
    EXPECT_FALSE(QFileInfo::exists(entryPath()));
}

TEST_F(LoginItemOnDisk, OffHidesASystemWideEntryOfTheSameName) {
    QDir().mkpath(systemConfig.path() + QStringLiteral("/autostart"));
    QFile system(systemConfig.path() + QStringLiteral("/autostart/org.vaultine.Corvane.desktop"));
    ASSERT_TRUE(system.open(QIODevice::WriteOnly));
    system.write("[Desktop Entry]\nType=Application\nExec=/opt/vaultine/Corvane\n");
    system.close();
    EXPECT_TRUE(service.startAtLogin(false));
    QFile user(entryPath());
    ASSERT_TRUE(user.open(QIODevice::ReadOnly));
    EXPECT_TRUE(user.readAll().contains("Hidden=true"));
}

TEST_F(LoginItemOnDisk, OnOutsideABundleIsRefusedAndWritesNothing) {
    platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"),
                                         configHome.path() + QStringLiteral("/Nowhere.app"));
    EXPECT_FALSE(service.startAtLogin(true));
    EXPECT_FALSE(QFileInfo::exists(entryPath()));
}

TEST_F(LoginItemOnDisk, PathWithQuotesAndDollarsSurvivesTheExecQuoting) {
    const QByteArray entry = platform::XdgAutostartLoginItems::autostartEntry(
        QStringLiteral("Corvane"), QStringLiteral("/opt/My \"Apps\" $HOME\\x/Corvane"));
    QDir().mkpath(configHome.path() + QStringLiteral("/autostart"));
    QFile file(entryPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(entry);
    file.close();
    EXPECT_EQ(execArguments(), QStringList{QStringLiteral("/opt/My \"Apps\" $HOME\\x/Corvane")});
}

TEST_F(LoginItemOnDisk, OnlyAnEntryThatStartsTheBundledCorvaneCountsAsRegistered) {
    EXPECT_FALSE(service.loginItemRegistered());
    ASSERT_TRUE(service.startAtLogin(true));
    EXPECT_TRUE(service.loginItemRegistered());
    const auto rewrite = [this](const QByteArray& text) {
        QFile file(entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    QFile original(entryPath());
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray entry = original.readAll();
    ASSERT_TRUE(entry.contains("X-GNOME-Autostart-enabled=true"));
    rewrite(entry + "Hidden=true\n");
    EXPECT_FALSE(service.loginItemRegistered());
    rewrite(QByteArray(entry).replace("X-GNOME-Autostart-enabled=true",
                                      "X-GNOME-Autostart-enabled=false"));
    EXPECT_FALSE(service.loginItemRegistered());
    rewrite("[Desktop Entry]\nType=Application\nExec=/usr/bin/true\n");
    EXPECT_FALSE(service.loginItemRegistered());
    QFile::remove(entryPath());
    EXPECT_FALSE(service.loginItemRegistered());
}

// Entries that some desktop would skip, delay or run differently, each made from the entry
// Vaultine writes by one edit.
TEST_F(LoginItemOnDisk, AnEntryAnyDesktopWouldNotStartIsWrittenAgainWhole) {
    ASSERT_TRUE(service.startAtLogin(true));
    const QByteArray written = entryText();
    const QByteArray exec = written.mid(written.indexOf("Exec="));
    const std::vector<QByteArray> edits = {
        "NotShowIn=GNOME;KDE;XFCE;MATE;LXQt;X-Cinnamon;\n",
        "OnlyShowIn=Nowhere;\n",
        "X-systemd-skip=true\n",
        "Hidden=1\n",
        "Hidden=yes\n",
        "X-GNOME-Autostart-Phase=Initialization\n",
        "X-GNOME-Autostart-Delay=86400\n",
        "AutostartCondition=GSettings org.gnome.desktop.a11y.applications screen-reader-enabled\n",
        "X-GNOME-AutostartCondition=unless-exists vaultine\n",
        "X-KDE-autostart-condition=vaultinerc:General:Start:false\n",
        "X-MATE-Autostart-enabled=false\n",
        "X-XFCE-Autostart-Override=true\n",
        "TryExec=/nonexistent/Corvane\n",
        "DBusActivatable=true\n",
        "Terminal=true\n",
        "Path=/nonexistent\n",
        "X-GNOME-Autostart-enabled=no\n",
        "[Desktop Entry]\nHidden=true\n",
        "[Desktop Action hide]\nName=x\n",
        "Hidden[$e]=true\n",
    };
    std::vector<QByteArray> texts;
    for (const QByteArray& edit : edits)
        texts.push_back(written + edit);
    texts.push_back(QByteArray(written).replace("Type=Application", "Type=Link"));
    texts.push_back(QByteArray(written).replace(exec, "Exec=env X=1 " + exec.mid(5)));
    texts.push_back(QByteArray(written).replace("\n", "\r\n"));
    texts.push_back(written + QByteArray(maxPadding, '#') + "\nHidden=true\n");
    texts.push_back(QByteArray(written).replace("[Desktop Entry]", "[Desktop Entry][$i]"));
    for (const QByteArray& text : texts) {
        writeEntry(text);
        EXPECT_FALSE(service.loginItemRegistered()) << text.toStdString();
        ASSERT_TRUE(service.startAtLogin(true));
        EXPECT_EQ(entryText(), written) << text.toStdString();
    }
}

TEST_F(LoginItemOnDisk, AnEntryWithOnlyTextsAddedOrReorderedIsLeftAlone) {
    ASSERT_TRUE(service.startAtLogin(true));
    const QByteArray text = "# edited by hand\n" + entryText() +
                            "Comment=Keeps Vaultine running\nName[de]=Corvane\nIcon=corvane\n";
    writeEntry(text);
    EXPECT_TRUE(service.loginItemRegistered());
}

TEST_F(LoginItemOnDisk, ALinkOrAFolderInPlaceOfTheEntryIsReplacedByTheEntry) {
    ASSERT_TRUE(service.startAtLogin(true));
    const QByteArray written = entryText();
    const QString copy = configHome.path() + QStringLiteral("/copy.desktop");
    ASSERT_TRUE(QFile::copy(entryPath(), copy));
    QFile::remove(entryPath());
    ASSERT_TRUE(QFile::link(copy, entryPath()));
    EXPECT_FALSE(service.loginItemRegistered());
    ASSERT_TRUE(service.startAtLogin(true));
    EXPECT_FALSE(QFileInfo(entryPath()).isSymLink());
    EXPECT_EQ(entryText(), written);

    QFile::remove(entryPath());
    ASSERT_TRUE(QDir().mkpath(entryPath() + QStringLiteral("/kept")));
    EXPECT_FALSE(service.loginItemRegistered());
    ASSERT_TRUE(service.startAtLogin(true));
    EXPECT_TRUE(service.loginItemRegistered());
    // The folder is the user's: moved aside, not deleted.
    const QStringList aside = QDir(configHome.path() + QStringLiteral("/autostart"))
                                  .entryList({QStringLiteral("*.displaced-*")}, QDir::Dirs);
    EXPECT_EQ(aside.size(), 1);
}

TEST_F(LoginItemOnDisk, AnAutostartFolderMadeReadOnlyIsWrittenAgain) {
    ASSERT_TRUE(service.startAtLogin(true));
    const QString folder = configHome.path() + QStringLiteral("/autostart");
    QFile::remove(entryPath());
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    ASSERT_TRUE(service.startAtLogin(true));
    EXPECT_TRUE(service.loginItemRegistered());
}

TEST_F(LoginItemOnDisk, DeletingTheEntryIsSeen) {
    ASSERT_TRUE(service.startAtLogin(true));
    int changes = 0;
    service.observeLoginItem([&changes] { ++changes; });
    QFile::remove(entryPath());
    EXPECT_TRUE(QTest::qWaitFor([&changes] { return changes > 0; }, 5000));
}

}  // namespace
