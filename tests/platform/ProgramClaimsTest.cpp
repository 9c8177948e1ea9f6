// Which applications name a program, and which of them a process is shown as: every entry of an
// identifier in every folder, hidden and shadowed ones too, the programs of session-bus services,
// the systemd units and window names that stand for applications, and the choice by command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ScopedEnvironment.h"
#include "platform/linux/ApplicationMatcher.h"
#include "platform/linux/DesktopEntryCatalogue.h"
#include "platform/linux/ElfBuildId.h"

using platform::DesktopEntryCatalogue;
using platform::ProgramClaim;

namespace {

class ProgramClaims : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        program = root.filePath("bin/tool");
        server = root.filePath("bin/tool-server");
        for (const QString& path : {program, server}) {
            QDir().mkpath(QFileInfo(path).path());
            ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/true"), path));
        }
    }

    void write(const QString& relative, const QByteArray& contents) {
        const QString path = root.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }
    QByteArray entry(const QByteArray& name, const QByteArray& exec, const QByteArray& extra = {}) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
    }
    DesktopEntryCatalogue& catalogue() {
        if (!made)
            made = std::make_unique<DesktopEntryCatalogue>(QStringList{
                root.filePath("user/applications"), root.filePath("system/applications")});
        return *made;
    }
    QStringList claimants(const QString& path) {
        QStringList identifiers;
        for (const ProgramClaim& claim : catalogue().claimsOfProgram(path))
            identifiers.append(claim.entry.identifier);
        return identifiers;
    }

    static QStringList identifiersOf(const std::vector<ProgramClaim>& claims) {
        QStringList identifiers;
        for (const ProgramClaim& claim : claims)
            identifiers.append(claim.entry.identifier);
        return identifiers;
    }
    QString copyOf(const QString& source, const QString& relative) {
        const QString path = root.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(QFile::copy(source, path));
        return path;
    }
    // Flips the byte at `offset`.
    static void alter(const QString& path, qint64 offset) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(offset);
        const char flipped = static_cast<char>(~file.peek(1).at(0));
        file.write(&flipped, 1);
    }
    // Turns the build-id note into a note of another type, as a link without --build-id leaves a
    // program.
    static void removeBuildId(const QString& path) {
        const std::optional<platform::elf::BuildId> id = platform::elf::readBuildId(path);
        ASSERT_TRUE(id);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        // The note's type word lies before its 4-byte name, "GNU\0".
        file.seek(qint64(id->offset) - 8);
        file.write(QByteArray(4, '\0'));
    }

    QTemporaryDir root;
    QString program;
    QString server;
    std::unique_ptr<DesktopEntryCatalogue> made;
};

TEST_F(ProgramClaims, HiddenOrShadowingUserEntryKeepsTheSystemEntrysProgram) {
    const QByteArray exec = QFile::encodeName(program);
    write("system/applications/org.test.Tool.desktop", entry("Tool", exec));
    write("user/applications/org.test.Tool.desktop",
          "[Desktop Entry]\nType=Application\nName=Tool\nHidden=true\n");
    write("system/applications/org.test.Other.desktop", entry("Other", exec + " %U"));
    write("user/applications/org.test.Other.desktop", entry("Other", "/bin/true"));

    EXPECT_EQ(claimants(program), QStringList({"org.test.Other", "org.test.Tool"}));
    // Listing still honours the user's choice; the claim still shows the system entry's name.
    EXPECT_TRUE(catalogue().pathForIdentifier("org.test.Tool").isEmpty());
    EXPECT_EQ(catalogue().claimsOfProgram(program).back().entry.name, "Tool");
}

TEST_F(ProgramClaims, AnyNewEntryNamingTheProgramClaimsIt) {
    write("system/applications/org.test.Tool.desktop", entry("Tool", QFile::encodeName(program)));
    write("user/applications/aaa.desktop",
          entry("a", QFile::encodeName(program) + " --x", "NoDisplay=true\n"));

    EXPECT_EQ(claimants(program), QStringList({"aaa", "org.test.Tool"}));
}

TEST_F(ProgramClaims, ProgramStartedThroughEnvIsClaimedButEnvItselfIsNot) {
    const QByteArray tool = QFile::encodeName(program);
    write("user/applications/wrapped.desktop", entry("W", "env -u X GDK_BACKEND=x11 " + tool));
    write("user/applications/split.desktop", entry("S", "env -S \"" + tool + " -x\""));

    EXPECT_EQ(claimants(program), QStringList({"wrapped"}));
    EXPECT_TRUE(claimants(QFileInfo(QStringLiteral("/usr/bin/env")).canonicalFilePath()).empty());
}

TEST_F(ProgramClaims, BusServiceNamedLikeAnEntryLendsItsProgramAndUnit) {
    write("system/applications/org.test.Tool.desktop", entry("Tool", QFile::encodeName(program)));
    write("system/dbus-1/services/org.test.Tool.service",
          "[D-BUS Service]\nName=org.test.Tool\nExec=" + QFile::encodeName(server) +
              " --serve\nSystemdService=tool-server.service\n");
    write("system/dbus-1/services/org.test.Unrelated.service",
          "[D-BUS Service]\nName=org.test.Unrelated\nExec=/bin/true\n");

    EXPECT_EQ(claimants(server), QStringList({"org.test.Tool"}));
    EXPECT_EQ(catalogue().identifiersOfUnit("tool-server.service"), QStringList({"org.test.Tool"}));
    EXPECT_TRUE(claimants(QFileInfo(QStringLiteral("/bin/true")).canonicalFilePath()).isEmpty());
    EXPECT_TRUE(catalogue().programs().contains(server));
}

TEST_F(ProgramClaims, WindowNamesStandForTheirApplicationsWithoutCase) {
    write("system/applications/org.test.Tool.desktop",
          entry("Tool", QFile::encodeName(program), "StartupWMClass=ToolWindow\n"));

    for (const char* name : {"toolwindow", "TOOL", "org.test.tool"})
        EXPECT_EQ(catalogue().identifiersOfWindowName(name), QStringList({"org.test.Tool"}))
            << name;
    EXPECT_TRUE(catalogue().identifiersOfWindowName("true").isEmpty());
}

TEST_F(ProgramClaims, AnEntryHiddenOrDeletedLaterKeepsItsProgramClaimedForTheRun) {
    write("user/applications/org.test.Tool.desktop", entry("Tool", QFile::encodeName(program)));
    ASSERT_EQ(claimants(program), QStringList({"org.test.Tool"}));

    write("user/applications/org.test.Tool.desktop",
          "[Desktop Entry]\nType=Application\nName=Tool\nHidden=true\n");
    EXPECT_EQ(claimants(program), QStringList({"org.test.Tool"}));
    ASSERT_TRUE(QFile::remove(root.filePath("user/applications/org.test.Tool.desktop")));
    EXPECT_EQ(claimants(program), QStringList({"org.test.Tool"}));
    EXPECT_TRUE(catalogue().claimsOfProgram(program).front().hidden);
}

TEST_F(ProgramClaims, ARenamedCopyOrAHardLinkOfAProgramIsKnownByItsContent) {
    write("system/applications/org.test.Tool.desktop", entry("Tool", QFile::encodeName(program)));
    const QString copy = root.filePath("elsewhere/renamed");
    const QString link = root.filePath("elsewhere/linked");
    QDir().mkpath(root.filePath("elsewhere"));
    ASSERT_TRUE(QFile::copy(program, copy));
    ASSERT_EQ(::link(QFile::encodeName(program).constData(), QFile::encodeName(link).constData()),
              0);

    EXPECT_EQ(catalogue().identifiersOfProgramContent(copy), QStringList({"org.test.Tool"}));
    EXPECT_EQ(catalogue().identifiersOfProgramContent(link), QStringList({"org.test.Tool"}));
    // Another application shipping the same bytes, or an entry naming the copy itself: the bytes
    // are every claimant's, so no entry takes the lock of another away.
    write("system/applications/org.test.Twin.desktop", entry("Twin", QFile::encodeName(server)));
    write("user/applications/notes.desktop", entry("Notes", QFile::encodeName(copy)));
    const auto sortedContentClaimants = [&](const QString& path) {
        QStringList identifiers = catalogue().identifiersOfProgramContent(path);
        identifiers.sort();
        return identifiers;
    };
    EXPECT_EQ(sortedContentClaimants(copy),
              QStringList({"notes", "org.test.Tool", "org.test.Twin"}));
    EXPECT_EQ(sortedContentClaimants(program),
              QStringList({"notes", "org.test.Tool", "org.test.Twin"}));
    EXPECT_TRUE(catalogue().identifiersOfProgramContent(root.filePath("missing")).isEmpty());
}

TEST_F(ProgramClaims, ACopyAlteredAnywhereButItsBuildIdIsTheProgram) {
    write("system/applications/org.test.Tool.desktop", entry("Tool", QFile::encodeName(program)));
    const QString altered = copyOf(program, "elsewhere/altered");
    alter(altered, QFileInfo(altered).size() / 2);
    {
        QFile tail(altered);
        ASSERT_TRUE(tail.open(QIODevice::Append));
        tail.write("x");
    }
    const QString otherBuild = copyOf(program, "elsewhere/other-build");
    alter(otherBuild, qint64(platform::elf::readBuildId(otherBuild)->offset));

    EXPECT_EQ(catalogue().identifiersOfProgramContent(altered), QStringList({"org.test.Tool"}));
    EXPECT_EQ(claimants(altered), QStringList());
    EXPECT_EQ(identifiersOf(catalogue().claimsOfProgramBuildId(altered)),
              QStringList({"org.test.Tool"}));
    EXPECT_TRUE(catalogue().identifiersOfProgramContent(otherBuild).isEmpty());
    EXPECT_TRUE(catalogue().claimsOfProgramBuildId(otherBuild).empty());
}

TEST_F(ProgramClaims, ProgramsWithoutABuildIdAreKnownByTheirBytes) {
    const QString bare = copyOf(program, "bin/bare");
    removeBuildId(bare);
    ASSERT_FALSE(platform::elf::readBuildId(bare));
    write("system/applications/org.test.Bare.desktop", entry("Bare", QFile::encodeName(bare)));
    const QString copy = copyOf(bare, "elsewhere/copy");
    const QString altered = copyOf(bare, "elsewhere/altered");
    alter(altered, QFileInfo(altered).size() / 2);
    const QString script = root.filePath("elsewhere/script");
    write("elsewhere/script", "#!/bin/sh\nexec true\n");

    EXPECT_EQ(catalogue().identifiersOfProgramContent(copy), QStringList({"org.test.Bare"}));
    EXPECT_TRUE(catalogue().claimsOfProgramBuildId(copy).empty());
    EXPECT_TRUE(catalogue().identifiersOfProgramContent(altered).isEmpty());
    EXPECT_TRUE(catalogue().identifiersOfProgramContent(script).isEmpty());
    // The copy of a program with a build-id is not taken for the bare one, nor the other way.
    EXPECT_FALSE(catalogue().identifiersOfProgramContent(program).contains("org.test.Bare"));
}

TEST_F(ProgramClaims, AnExecNameClaimsWhatItIsOnOurPathAndOnTheSystemsPath) {
    // A PATH edited in a login file leads the name to a program of the user's: the system's
    // program of that name stays claimed.
    const QString own = copyOf(QStringLiteral("/bin/sleep"), "userbin/true");
    ScopedEnvironment path("PATH", QFile::encodeName(root.filePath("userbin")));
    write("system/applications/org.test.True.desktop", entry("True", "true"));

    EXPECT_EQ(claimants(own), QStringList({"org.test.True"}));
    EXPECT_EQ(claimants(QFileInfo(QStringLiteral("/bin/true")).canonicalFilePath()),
              QStringList({"org.test.True"}));
}

ProgramClaim claim(const char* identifier, QStringList arguments, bool noDisplay = false,
                   bool hidden = false) {
    ProgramClaim result;
    result.entry.identifier = QString::fromLatin1(identifier);
    result.entry.noDisplay = noDisplay;
    result.arguments = std::move(arguments);
    result.hidden = hidden;
    return result;
}

TEST(ClaimChoice, ArgumentsDecideThenListableThenShownThenOrder) {
    const std::vector<ProgramClaim> terminal = {
        claim("org.test.Terminal.Preferences", {"--preferences"}, true),
        claim("org.test.Terminal", {}),
    };
    EXPECT_EQ(platform::chooseClaim(terminal, {}).entry.identifier, "org.test.Terminal");
    EXPECT_EQ(platform::chooseClaim(terminal, {"--tab"}).entry.identifier, "org.test.Terminal");
    EXPECT_EQ(platform::chooseClaim(terminal, {"--preferences"}).entry.identifier,
              "org.test.Terminal.Preferences");

    const std::vector<ProgramClaim> same = {claim("hidden", {}, false, true),
                                            claim("private", {}, true), claim("first", {}),
                                            claim("second", {})};
    EXPECT_EQ(platform::chooseClaim(same, {}).entry.identifier, "first");
}

}  // namespace
