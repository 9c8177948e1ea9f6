// The GNOME Shell lock's choices that need no Shell: which desktops are GNOME, and which extension
// the Shell reports is one only root could have written, and the records of the password socket.
#include "platform/linux/GnomeShellLock.h"

#include <gmock/gmock.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QVariantMap>

namespace {

QVariantMap extensionInfo(double type, const QString& path) {
    return {{QStringLiteral("type"), type}, {QStringLiteral("path"), path}};
}

// A scratch extension folder beside the build's bundle, whose folders are root's alone when the
// tests run as root (unlike the temporary folder, which everyone may write).
QString buildFolder() {
    return QFileInfo(QStringLiteral(VAULTINE_BUNDLE_PATH)).path();
}

}  // namespace

TEST(GnomeShellLock, GnomeIsOneOfTheDesktopsNamed) {
    using platform::GnomeShellLock;
    EXPECT_TRUE(GnomeShellLock::desktopIsGnome("GNOME"));
    EXPECT_TRUE(GnomeShellLock::desktopIsGnome("ubuntu:GNOME"));
    EXPECT_TRUE(GnomeShellLock::desktopIsGnome("GNOME-Classic:GNOME"));
    EXPECT_FALSE(GnomeShellLock::desktopIsGnome("GNOME-Flashback"));
    EXPECT_FALSE(GnomeShellLock::desktopIsGnome("KDE"));
    EXPECT_FALSE(GnomeShellLock::desktopIsGnome(""));
}

TEST(GnomeShellLock, TrustsOnlyASystemExtensionThatOnlyRootCanWrite) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs folders only root writes";
    QTemporaryDir scratch(buildFolder() + QStringLiteral("/shell-extension-XXXXXX"));
    ASSERT_TRUE(scratch.isValid());
    ASSERT_TRUE(QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadOther |
                                                          QFile::ExeOther));
    QFile script(scratch.filePath(QStringLiteral("extension.js")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.close();
    using platform::GnomeShellLock;
    EXPECT_TRUE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(1, scratch.path())));
    // The user's own copy shadows the system one.
    EXPECT_FALSE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(2, scratch.path())));
    EXPECT_FALSE(GnomeShellLock::extensionInfoIsTrusted({}));
    EXPECT_FALSE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(1, "relative/path")));
    QTemporaryDir everyonesFolder;
    EXPECT_FALSE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(1, everyonesFolder.path())));
    // A file others may write, a link, or a folder of another owner inside is not root's alone.
    ASSERT_TRUE(script.setPermissions(script.permissions() | QFile::WriteGroup));
    EXPECT_FALSE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(1, scratch.path())));
    ASSERT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    ASSERT_TRUE(QFile::link(everyonesFolder.path(), scratch.filePath(QStringLiteral("link"))));
    EXPECT_FALSE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(1, scratch.path())));
    ASSERT_TRUE(QFile::remove(scratch.filePath(QStringLiteral("link"))));
    EXPECT_TRUE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(1, scratch.path())));
    ASSERT_TRUE(QDir(scratch.path()).mkdir(QStringLiteral("modules")));
    ASSERT_EQ(::chown(QFile::encodeName(scratch.filePath(QStringLiteral("modules"))).constData(),
                      65534, 65534),
              0);
    EXPECT_FALSE(GnomeShellLock::extensionInfoIsTrusted(extensionInfo(1, scratch.path())));
}

TEST(GnomeShellLockPasswordRecords, SplitsNulEndedTextsAcrossReads) {
    platform::PasswordRecords records;
    EXPECT_THAT(records.feed("Open Ses"), testing::IsEmpty());
    EXPECT_THAT(
        records.feed(QByteArrayView("ame\0wrong\0\0n\xc3\xa4", 14)),
        testing::ElementsAre(QStringLiteral("Open Sesame"), QStringLiteral("wrong"), QString()));
    EXPECT_THAT(records.feed(QByteArrayView("he\0", 3)),
                testing::ElementsAre(QString::fromUtf8("n\xc3\xa4he")));
}

TEST(GnomeShellLockPasswordRecords, DropsOverlongAndMalformedRecordsWhole) {
    platform::PasswordRecords records;
    const QByteArray longest(platform::PasswordRecords::MAX_RECORD_BYTES, 'a');
    EXPECT_THAT(records.feed(longest + '\0'), testing::ElementsAre(QString::fromLatin1(longest)));
    // Over the bound, across two reads: nothing of it is taken, not even its tail.
    EXPECT_THAT(records.feed(longest), testing::IsEmpty());
    EXPECT_THAT(records.feed(QByteArrayView("bb\0next\0", 8)),
                testing::ElementsAre(QStringLiteral("next")));
    // Not UTF-8 (a lone continuation byte, a cut sequence).
    EXPECT_THAT(records.feed(QByteArrayView("\x80x\0\xc3\0ok\0", 8)),
                testing::ElementsAre(QStringLiteral("ok")));
    // A record the writer never ended stays unreported.
    EXPECT_THAT(records.feed(QByteArray(100000, 'c')), testing::IsEmpty());
    EXPECT_THAT(records.feed(QByteArrayView("\0", 1)), testing::IsEmpty());
}
