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

TEST_F(LoginItemOnDisk, DeletingTheEntryIsSeen) {
    ASSERT_TRUE(service.startAtLogin(true));
    int changes = 0;
    service.observeLoginItem([&changes] { ++changes; });
    QFile::remove(entryPath());
    EXPECT_TRUE(QTest::qWaitFor([&changes] { return changes > 0; }, 5000));
}

}  // namespace
